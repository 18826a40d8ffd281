// The child-exit counter, the reaping, and who gets which exit.
#include "event/children.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "event/signals.h"

namespace {

// Lock-free, so the handler's increment and the loop's exchange can never split each other.
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct Asked {
    pid_t pid;
    ChildExited exited;
    void *ctx;
};
std::vector<Asked> g_asked;
Asked g_others{0, nullptr, nullptr};

// The handler also wakes the wait, so that no exit can slip in between a check of the counter and the
// start of the wait.
void on_child_exit(int)
{
    g_pending.fetch_add(1);
    signal_wake();
}

} // namespace

void children_install_handler()
{
    signal_wake_init();
    struct sigaction sa {};
    sa.sa_handler = on_child_exit;
    sigemptyset(&sa.sa_mask);
    // Restart interrupted reads, so that a child's exit never looks like a failed read elsewhere.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGCHLD, &sa, nullptr);
}

void children_on_exit(pid_t pid, ChildExited exited, void *ctx)
{
    std::erase_if(g_asked, [pid](const Asked &a) { return a.pid == pid; });
    g_asked.push_back({pid, exited, ctx});
}

void children_on_other_exit(ChildExited exited, void *ctx)
{
    g_others = {0, exited, ctx};
}

void children_reap()
{
    if (g_pending.load() == 0) return;
    // Two children that end together may raise a single signal: reap everything that has exited,
    // not one child per signal, or the second machine would be shown alive for good. A count with no
    // child behind it (one reaped elsewhere) costs one waitpid that finds nothing.
    g_pending.exchange(0);
    pid_t pid;
    int status = 0;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        auto asked =
            std::find_if(g_asked.begin(), g_asked.end(), [pid](const Asked &a) { return a.pid == pid; });
        Asked to = g_others;
        if (asked != g_asked.end()) {
            to = *asked;
            g_asked.erase(asked);
        }
        if (to.exited) to.exited(pid, status, to.ctx);
    }
}
