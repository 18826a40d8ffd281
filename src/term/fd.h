// Owner of one file descriptor: closes it exactly once.
#pragma once

#include <unistd.h>

#include <atomic>
#include <utility>

// How many descriptors Fd has closed in this process. A number seen again after a close may name
// another file: whoever keeps descriptors registered by number (the wait's epoll set) starts afresh.
inline std::atomic<unsigned long> &fd_close_count()
{
    static std::atomic<unsigned long> count{0};
    return count;
}
inline unsigned long fd_closes()
{
    return fd_close_count().load(std::memory_order_relaxed);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_close_count().fetch_add(1, std::memory_order_relaxed);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
