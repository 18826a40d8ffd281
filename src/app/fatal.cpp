// Restoring the user's terminal on every signal that ends the program.
#include "app/fatal.h"

#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <curses.h>
#include <term.h>

#include <array>

#include "screen/screen.h"
#include "term/tarvik.h"

namespace {

termios g_saved_modes;
bool g_have_saved_modes = false;
// What curses would send on ending: prepared beforehand, since a handler may only write bytes.
std::array<char, 256> g_reset{};
size_t g_reset_len = 0;

void append_bytes(const char *s)
{
    size_t n = strlen(s);
    if (g_reset_len + n >= g_reset.size()) return;
    memcpy(g_reset.data() + g_reset_len, s, n);
    g_reset_len += n;
}

void append_capability(const char *name)
{
    char *s = tigetstr(name);
    if (!s || s == reinterpret_cast<char *>(-1)) return;
    append_bytes(s);
}

// Signals quillor needs for itself, or whose default action does not end a process.
bool ends_the_process(int sig)
{
    switch (sig) {
    case SIGKILL:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH: return false;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers report a crash from their own handlers, which must stay in place.
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL: return false;
#endif
    default: return true;
    }
}

// The terminal, the keyboard's Ctrl-C sent by whatever started us and the user's kill are taken
// whatever they were set to; another signal ignored when quillor started (SIGPIPE, or SIGQUIT for a
// background job) stays ignored.
bool always_taken(int sig)
{
    return sig == SIGTERM || sig == SIGHUP || sig == SIGINT;
}

// Raised by a fault of the program's own, at the instruction that faulted: never to be held back.
bool synchronous(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL || sig == SIGTRAP ||
           sig == SIGSYS;
}

[[noreturn]] void on_fatal_signal(int sig)
{
    // Only async-signal-safe calls from here on.
    fatal_give_back_terminal();
    tarvik_vt_hangup_all_children();
    // The parent must see the process ended by this signal: its default action, and no longer blocked
    // (the handler runs with every signal blocked).
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig);
}

} // namespace

void fatal_save_terminal()
{
    g_have_saved_modes = tcgetattr(STDIN_FILENO, &g_saved_modes) == 0;
}

void fatal_give_back_terminal()
{
    if (g_reset_len) (void)!write(STDOUT_FILENO, g_reset.data(), g_reset_len);
    if (g_have_saved_modes) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_modes);
}

void fatal_install_handlers()
{
    append_bytes(kScreenPasteOff);
    append_capability("sgr0");
    append_capability("cnorm");
    append_capability("rmkx");
    append_capability("rmcup");
    struct sigaction sa {};
    sa.sa_handler = on_fatal_signal;
    sigfillset(&sa.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (!ends_the_process(sig)) continue;
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0) continue; // one the C library keeps for itself
        if (old.sa_handler == SIG_IGN && !always_taken(sig)) continue;
        sigaction(sig, &sa, nullptr);
    }
}

void fatal_asynchronous_signals(sigset_t *set)
{
    sigemptyset(set);
    for (int sig = 1; sig < NSIG; ++sig)
        if (ends_the_process(sig) && !synchronous(sig)) sigaddset(set, sig);
}

void fatal_exit(int sig)
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    on_fatal_signal(sig);
}
