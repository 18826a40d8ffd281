// The one wait of the program: the keyboard, what its parts registered, and the signals, in one poll.
#include "event/wait.h"

#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "base/clock.h"
#include "event/children.h"
#include "event/keyboard.h"
#include "event/poller.h"
#include "event/signals.h"

namespace {

int g_keyboard_fd = STDIN_FILENO;
WaitScreen g_screen;
bool (*g_keyboard_gate)() = nullptr;

// How often a keyboard held back for a machine that is not reading is looked at again.
constexpr int kHeldKeyboardMs = 50;

struct RegisteredSource {
    WaitSource source;
    size_t first = 0, count = 0; // its entries in this turn's poll
};
std::vector<RegisteredSource> g_sources;
std::vector<WaitTask> g_tasks;

struct OpenDialog {
    WaitPaint paint;
    void *ctx;
    unsigned long serial; // tells dialogs apart, however they come and go
};
std::vector<OpenDialog> g_dialogs;
unsigned long g_dialog_serials = 0;

// The keyboard's bytes, decoded by the program itself: a paste's text is never taken for keys, keys
// after a paste or in one read with others are decoded like keys typed alone, and a sequence curses
// does not know is one event, never an Escape followed by keys for a machine.
KeyDecoder g_keys;
// Keys put back with wait_unread_key, the last put back first.
std::vector<int> g_unread;
// The piece of paste kKeyPaste announced, and the bytes of the sequence kKeyUnknown announced.
std::string g_paste, g_unknown;
// The dialog (its serial; 0 for none) that took the first piece of the paste being read: a paste goes
// whole to the one that took its beginning, and what is left of it once that one is gone goes nowhere.
unsigned long g_paste_taker = 0;
bool g_paste_dropped = false;

unsigned long top_dialog()
{
    return g_dialogs.empty() ? 0 : g_dialogs.back().serial;
}

// Set by the SIGWINCH handler, which runs only inside the wait's poll or take_size_change.
volatile sig_atomic_t g_resized = 0;

void on_resize(int)
{
    g_resized = 1;
}

// The signal mask for the poll alone: SIGWINCH is blocked everywhere else, so that a new size can only
// arrive while the wait sleeps, and wakes it. Otherwise it could come just after the key read that
// would have reported it, and sit unseen until the next key or output.
sigset_t g_poll_mask;

bool fits()
{
    return !g_screen.fits || g_screen.fits();
}

bool keyboard_ready()
{
    return !g_keyboard_gate || g_keyboard_gate();
}

void terminal_lost()
{
    if (g_screen.lost) g_screen.lost();
}

// A poll that finds a terminal ready at once returns without taking the signals its mask lets in; with
// machines printing without pause it never sleeps, so a waiting new size is let in here.
void take_size_change()
{
    sigset_t pending;
    if (sigpending(&pending) != 0 || !sigismember(&pending, SIGWINCH)) return;
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    sigprocmask(SIG_UNBLOCK, &winch, nullptr);
    sigprocmask(SIG_BLOCK, &winch, nullptr);
}

// curses' picture of the screen takes the terminal's new size, then the program lays itself out again.
void follow_resize()
{
    g_resized = 0;
    winsize ws{};
    if ((ioctl(g_keyboard_fd, TIOCGWINSZ, &ws) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) &&
        ws.ws_row > 0 && ws.ws_col > 0)
        resizeterm(ws.ws_row, ws.ws_col);
    if (g_screen.resized) g_screen.resized();
}

// Reads what the keyboard has now, without waiting; false when it had nothing.
bool read_keyboard()
{
    static char buf[64 * 1024];
    // The descriptor is the user's own and may be shared with their shell: it stays blocking, and is
    // read only when it has something.
    pollfd pfd{g_keyboard_fd, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0) return false;
    ssize_t n = read(g_keyboard_fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    if (n <= 0) {
        terminal_lost();
        return false;
    }
    keyboard_feed(g_keys, buf, static_cast<size_t>(n), clock_now_ms());
    return true;
}

// The key code of an event for the caller, or ERR for one that goes nowhere.
int event_key(KeyEvent &ev)
{
    switch (ev.kind) {
    case KeyEvent::Kind::Key: return ev.key;
    case KeyEvent::Kind::Unknown: g_unknown.swap(ev.text); return kKeyUnknown;
    case KeyEvent::Kind::Paste:
        if (ev.first) {
            g_paste_taker = top_dialog();
            g_paste_dropped = false;
        } else if (g_paste_taker != top_dialog()) {
            g_paste_dropped = true;
        }
        if (g_paste_dropped) return ERR;
        g_paste.swap(ev.text);
        return kKeyPaste;
    default: return ERR;
    }
}

// The next key without waiting, or ERR: a key put back, then what the keyboard's bytes make.
int take_key()
{
    if (!g_unread.empty()) {
        int key = g_unread.back();
        g_unread.pop_back();
        return key;
    }
    // A paste is read on whatever the machines are doing; keys only while they can take them.
    bool keys = keyboard_in_paste(g_keys) || keyboard_ready();
    for (; keys;) {
        KeyEvent ev = keyboard_next(g_keys, clock_now_ms());
        if (ev.kind == KeyEvent::Kind::None) {
            if (read_keyboard()) continue;
            break;
        }
        int key = event_key(ev);
        if (key == ERR) continue;
        // Behind the too-small notice the user cannot see what a key would do: it does nothing, and a
        // paste that began there is dropped to its end.
        if (!fits()) {
            if (key == kKeyPaste) g_paste_dropped = !ev.last;
            continue;
        }
        return key;
    }
    // A new size is taken once the keys typed before it are: they were typed at the screen the user saw.
    take_size_change();
    if (g_resized) follow_resize();
    return ERR;
}

// Runs the tasks of one phase that are due now.
void run_tasks(bool after_repaint)
{
    for (size_t i = 0; i < g_tasks.size(); ++i) {
        const WaitTask &t = g_tasks[i];
        if (t.after_repaint == after_repaint && t.due(t.ctx) == 0) t.run(t.ctx);
    }
}

// The nearest of `timeout` (negative: none) and `ms` (negative: none).
int sooner(int timeout, int ms)
{
    if (ms < 0) return timeout;
    return timeout < 0 ? ms : std::min(timeout, ms);
}

std::vector<pollfd> g_fds;

enum class Woke { Timeout, Keyboard, Fd, Other };

// One poll of everything the program waits on; the sources get their entries back when it found any.
Woke poll_all(int timeout_ms, int extra_fd)
{
    g_fds.clear();
    bool keys = keyboard_in_paste(g_keys) || keyboard_ready();
    g_fds.push_back({keys ? g_keyboard_fd : -1, POLLIN, 0});
    g_fds.push_back({extra_fd, POLLIN, 0});
    g_fds.push_back({signal_wake_fd(), POLLIN, 0});
    for (RegisteredSource &r : g_sources) {
        r.first = g_fds.size();
        r.source.watch(g_fds, r.source.ctx);
        r.count = g_fds.size() - r.first;
    }
    int n = poller_wait(g_fds, timeout_ms, &g_poll_mask);
    if (n == 0) return Woke::Timeout;
    if (n < 0) return Woke::Other; // a signal: the next turn sees what it brought
    // Emptied before anything looks at what the handlers set: a signal after this wakes the next wait.
    if (g_fds[2].revents) signal_wake_drain();
    for (const RegisteredSource &r : g_sources)
        if (r.count > 0) r.source.ready(g_fds.data() + r.first, r.count, r.source.ctx);
    if (g_fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) terminal_lost();
    if (g_fds[0].revents & POLLIN) return Woke::Keyboard;
    if (g_fds[1].revents) return Woke::Fd;
    return Woke::Other;
}

// Waits until a key, the extra descriptor or the deadline (negative: none); the program's parts are
// served and the screen repainted meanwhile.
int wait_until(long deadline_ms, int extra_fd)
{
    for (;;) {
        int key = take_key();
        if (key != ERR) return key;
        children_reap();
        run_tasks(false);
        wait_repaint();
        run_tasks(true);
        long now = clock_now_ms();
        int timeout = deadline_ms < 0 ? -1 : static_cast<int>(std::max(0L, deadline_ms - now));
        for (const WaitTask &t : g_tasks) timeout = sooner(timeout, t.due(t.ctx));
        // A keyboard held back is looked at again soon, whatever else happens.
        if (!keyboard_ready()) timeout = sooner(timeout, kHeldKeyboardMs);
        // A lone Escape is told from the start of a key, and a paste that never ends ends, with no byte
        // more to come.
        timeout = sooner(timeout, keyboard_due_ms(g_keys, now));
        Woke woke = poll_all(timeout, extra_fd);
        if (woke == Woke::Fd) return kWaitFdReady;
        if (deadline_ms >= 0 && clock_now_ms() >= deadline_ms) {
            // A key that came with the deadline is still taken.
            return take_key();
        }
    }
}

} // namespace

void wait_add_source(const WaitSource &source)
{
    g_sources.push_back({source});
}

void wait_add_task(const WaitTask &task)
{
    g_tasks.push_back(task);
}

void wait_set_screen(const WaitScreen &screen)
{
    g_screen = screen;
}

void wait_set_keyboard_gate(bool (*ready)())
{
    g_keyboard_gate = ready;
}

void wait_init()
{
    // A new size is the wait's to see, not curses' (whose keys the program does not read).
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGWINCH, &sa, nullptr);
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    sigprocmask(SIG_BLOCK, &winch, &g_poll_mask);
    sigdelset(&g_poll_mask, SIGWINCH);
}

void wait_set_keyboard_fd(int fd)
{
    g_keyboard_fd = fd;
}

WaitDialog::WaitDialog(WaitPaint paint, void *ctx)
{
    g_dialogs.push_back({paint, ctx, ++g_dialog_serials});
}

WaitDialog::~WaitDialog()
{
    g_dialogs.pop_back();
}

void wait_repaint()
{
    if (g_screen.paint) g_screen.paint();
    // Dialogs are drawn only over the panels, never over the too-small notice.
    if (fits())
        for (const OpenDialog &d : g_dialogs)
            if (d.paint) d.paint(d.ctx);
    if (g_screen.update)
        g_screen.update();
    else
        doupdate();
}

int wait_key()
{
    return wait_until(-1, -1);
}

int wait_key_for(int timeout_ms)
{
    return wait_until(clock_now_ms() + std::max(0, timeout_ms), -1);
}

int wait_key_or_fd(int fd)
{
    return wait_until(-1, fd);
}

int wait_keys_fd()
{
    return g_fds.empty() ? -1 : g_fds[0].fd;
}

int wait_key_now()
{
    return take_key();
}

void wait_unread_key(int key)
{
    if (key != ERR) g_unread.push_back(key);
}

const std::string &wait_paste_text()
{
    return g_paste;
}

const std::string &wait_key_bytes()
{
    return g_unknown;
}
