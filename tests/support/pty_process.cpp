#include "support/pty_process.h"

#include "support/pty_spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

extern char **environ;

PtyProcess::PtyProcess(const std::vector<std::string> &argv, int rows, int cols,
                       const std::vector<std::string> &env)
    : screen_(rows, cols)
{
    std::vector<std::string> envs;
    auto overridden = [&](const std::string &entry) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        if (name == "TERM=" || name == "LINES=" || name == "COLUMNS=") return true;
        for (const auto &e : env)
            if (e.compare(0, name.size(), name) == 0) return true;
        return false;
    };
    for (char **e = environ; *e; ++e)
        if (!overridden(*e)) envs.emplace_back(*e);
    bool has_term = false;
    for (const auto &e : env) {
        envs.push_back(e);
        if (e.rfind("TERM=", 0) == 0) has_term = true;
    }
    if (!has_term) envs.emplace_back("TERM=xterm-256color");
    std::vector<char *> cenv;
    for (auto &e : envs) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_ = pty_spawn(argv, rows, cols, cenv.data(), &master_);
    if (pid_ > 0) thread_ = std::thread([this] { reader(); });
}

PtyProcess::~PtyProcess()
{
    if (running()) {
        kill(pid_, SIGKILL);
        wait_exit(5000);
    }
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
}

void PtyProcess::reader()
{
    char buf[65536];
    while (!stop_) {
        pollfd pfd{master_, POLLIN, 0};
        int r = poll(&pfd, 1, 50);
        if (r <= 0) continue;
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            break; // EIO: the program and its children closed the terminal
        }
        screen_.feed(buf, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(mu_);
        output_.append(buf, static_cast<size_t>(n));
    }
}

void PtyProcess::send(const std::string &bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

void PtyProcess::resize(int rows, int cols)
{
    screen_.resize(rows, cols);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(master_, TIOCSWINSZ, &ws);
}

bool PtyProcess::wait_for(const std::function<bool(const ScreenReader &)> &pred, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (pred(screen_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred(screen_);
}

bool PtyProcess::wait_for_text(const std::string &text, int timeout_ms)
{
    return wait_for([&](const ScreenReader &s) { return s.all_text().find(text) != std::string::npos; },
                    timeout_ms);
}

bool PtyProcess::running()
{
    if (pid_ <= 0 || exited_) return false;
    int status;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exited_ = true;
        status_ = status;
        return false;
    }
    return r == 0;
}

int PtyProcess::wait_exit(int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (running()) {
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exited_ ? status_ : -1;
}

void PtyProcess::wait_quiet(int quiet_ms, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t seen = SIZE_MAX;
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        size_t now;
        {
            std::lock_guard<std::mutex> lock(mu_);
            now = output_.size();
        }
        if (now != seen) {
            seen = now;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(quiet_ms)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string PtyProcess::output() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return output_;
}
