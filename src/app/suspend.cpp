// Giving the terminal back on SIGTSTP and taking it again on SIGCONT.
#include "app/suspend.h"

#include <signal.h>

#include <atomic>

#include "app/fatal.h"
#include "event/signals.h"

namespace {

std::atomic<bool> g_resumed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The keyboard's Ctrl-Z reaches the machines in raw mode: this one was sent to us (kill -TSTP, or a
// stop of our process group). The user's shell gets its terminal back as it was, and quillor stops.
void on_stop(int)
{
    fatal_give_back_terminal();
    signal(SIGTSTP, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(SIGTSTP);
    // Continued: the stop is ours to handle again next time.
    sigprocmask(SIG_BLOCK, &only, nullptr);
    suspend_install_handlers();
    // With no shell to continue it (its process group orphaned), the kernel drops the stop and quillor
    // runs on: it must take the terminal again then too.
    g_resumed.store(true);
    signal_wake();
}

// Whether the stop was ours (SIGTSTP) or anyone's (SIGSTOP), the shell may have changed the terminal
// meanwhile, and it turns bracketed paste off for itself: everything is set again.
void on_continue(int)
{
    g_resumed.store(true);
    signal_wake();
}

} // namespace

void suspend_install_handlers()
{
    struct sigaction sa {};
    sigfillset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sa.sa_handler = on_stop;
    sigaction(SIGTSTP, &sa, nullptr);
    sa.sa_handler = on_continue;
    sigaction(SIGCONT, &sa, nullptr);
}

bool suspend_take_resumed()
{
    return g_resumed.exchange(false);
}

bool suspend_resumed()
{
    return g_resumed.load();
}
