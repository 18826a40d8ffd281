#include "support/reap.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

int reap_child(pid_t pid, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

void reap_children(int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const pid_t r = waitpid(-1, nullptr, WNOHANG);
        if (r > 0) continue;
        if (r < 0 && errno == ECHILD) return;
        if (std::chrono::steady_clock::now() >= end) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
