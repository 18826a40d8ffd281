// Restoring the user's terminal on SIGTERM, SIGHUP and SIGINT.
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

[[noreturn]] void on_fatal_signal(int sig)
{
    // Only async-signal-safe calls from here on.
    if (g_reset_len) (void)!write(STDOUT_FILENO, g_reset.data(), g_reset_len);
    if (g_have_saved_modes) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_modes);
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
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // The keyboard's Ctrl-C reaches the machines in raw mode; this one was sent to our process group,
    // as by a Ctrl-C meant for whatever started us.
    sigaction(SIGINT, &sa, nullptr);
}

void fatal_exit(int sig)
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    on_fatal_signal(sig);
}
