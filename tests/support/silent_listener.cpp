// A loopback port that takes connections and never answers them.
#include "support/silent_listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

// Well above the 256 machines a session holds, so no connection waits for room in the queue.
constexpr int kBacklog = 1024;

} // namespace

SilentListener::SilentListener()
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd_, kBacklog) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        close();
        return;
    }
    port_ = ntohs(addr.sin_port);
}

SilentListener::~SilentListener()
{
    close();
}

std::string SilentListener::name() const
{
    return "ssh://127.0.0.1:" + std::to_string(port_);
}

int SilentListener::waiting() const
{
    if (fd_ < 0) return 0;
    // For a listening socket the kernel reports the length of its accept queue here.
    tcp_info info{};
    socklen_t len = sizeof info;
    if (getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
    return static_cast<int>(info.tcpi_unacked);
}

bool SilentListener::wait_waiting(int n, int timeout_ms) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (waiting() < n) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void SilentListener::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
