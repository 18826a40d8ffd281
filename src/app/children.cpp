// The child-exit counter and the reaping of ssh children.
#include "app/children.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "app/add.h"
#include "event/signals.h"
#include "machines/mlist.h"

namespace {

// Lock-free, so the handler's increment and the loop's exchange can never split each other.
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

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

int children_pending()
{
    return g_pending.load();
}

int children_take()
{
    return g_pending.exchange(0);
}

void children_reap()
{
    if (g_pending.load() == 0) return;
    // Two children that end together may raise a single signal: reap everything that has exited,
    // not one child per signal, or the second machine would be shown alive for good. A count with no
    // child behind it (one reaped elsewhere) costs one waitpid that finds nothing.
    children_take();
    pid_t pid;
    int status = 0;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (!add_child_exited(pid, status)) mlist_child_exited(pid, status);
    }
}
