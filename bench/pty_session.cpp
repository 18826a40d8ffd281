#include "pty_session.h"

#include "support/pty_spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <thread>

extern char **environ;

double ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

PtySession::PtySession(const std::vector<std::string> &argv, int rows, int cols) : screen_(rows, cols)
{
    pid_ = pty_spawn(argv, rows, cols, environ, &master_);
    if (pid_ > 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtySession::~PtySession()
{
    if (pid_ <= 0) return;
    // Keep draining while the program tidies up, so it never blocks writing to us.
    auto gone = [&](int ms) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return true;
            if (Clock::now() >= end) return false;
            if (!eof_) {
                std::array<char, 65536> buf;
                read_some(buf.data(), buf.size());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    kill(pid_, SIGTERM);
    if (!gone(3000)) {
        kill(pid_, SIGKILL);
        gone(3000);
    }
    close(master_);
}

void PtySession::send(std::string_view bytes)
{
    // A terminal goes on reading the program's output while it writes a paste: a program that cannot
    // write its echo takes no more keys, and a blocking write here would never return.
    auto stalled_since = Clock::now();
    while (!bytes.empty() && !eof_) {
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            stalled_since = Clock::now();
            if (!bytes.empty()) pump(0);
        } else if (n < 0 && errno == EAGAIN) {
            if (Clock::now() - stalled_since > std::chrono::seconds(60)) return;
            pollfd pfd{master_, POLLIN | POLLOUT, 0};
            if (poll(&pfd, 1, 100) > 0 && (pfd.revents & (POLLIN | POLLHUP))) pump(0);
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
}

ssize_t PtySession::read_some(char *buf, size_t len)
{
    for (;;) {
        ssize_t n = ::read(master_, buf, len);
        if (n < 0 && errno == EINTR) continue;
        // EIO: the program and everything it started have closed the terminal.
        if (n == 0 || (n < 0 && errno != EAGAIN)) eof_ = true;
        return n;
    }
}

size_t PtySession::pump(int timeout_ms)
{
    if (eof_) {
        if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return 0;
    }
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return 0;
    static std::array<char, 65536> buf;
    size_t total = 0;
    for (;;) {
        ssize_t n = read_some(buf.data(), buf.size());
        if (n <= 0) break;
        last_read_ = Clock::now();
        screen_.feed(buf.data(), static_cast<size_t>(n));
        total += static_cast<size_t>(n);
    }
    return total;
}

std::optional<Clock::time_point> PtySession::wait_for(const std::function<bool(const ScreenReader &)> &pred,
                                                      int timeout_ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (pred(screen_)) return Clock::now();
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || eof_) return std::nullopt;
        if (pump(static_cast<int>(std::min<long>(left, 100))) > 0 && pred(screen_)) return last_read_;
    }
}

bool PtySession::wait_text(const std::string &text, int timeout_ms)
{
    return wait_for([&](const ScreenReader &s) { return s.all_text().find(text) != std::string::npos; },
                    timeout_ms)
        .has_value();
}

void PtySession::settle(int quiet_ms, int max_ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(max_ms);
    auto quiet_since = Clock::now();
    while (Clock::now() < end) {
        if (pump(1) > 0)
            quiet_since = Clock::now();
        else if (Clock::now() - quiet_since >= std::chrono::milliseconds(quiet_ms))
            return;
    }
}

std::optional<Clock::time_point> PtySession::wait_raw(const std::string &marker, int timeout_ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    static std::array<char, 65536> buf;
    // The end of the previous read, so a marker split between two reads is found too.
    std::string window;
    while (Clock::now() < end && !eof_) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        for (;;) {
            ssize_t n = read_some(buf.data(), buf.size());
            if (n <= 0) break;
            auto at = Clock::now();
            std::string_view chunk(buf.data(), static_cast<size_t>(n));
            window.append(chunk.substr(0, std::min(chunk.size(), marker.size())));
            if (window.find(marker) != std::string::npos || chunk.find(marker) != std::string_view::npos)
                return at;
            size_t keep = std::min(chunk.size(), marker.size());
            window.assign(chunk.substr(chunk.size() - keep));
        }
    }
    return std::nullopt;
}

std::string screen_cells(const ScreenReader &s, int row, int from, int to)
{
    std::string text;
    for (int col = from; col < to; ++col) text += s.cell(row, col).text;
    return text;
}
