// The one wait of the program: the keyboard, the machines' terminals and child exits, in one poll.
#include "base/clock.h"
#include "dialogs/wait.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "event/keyboard.h"
#include "event/signals.h"
#include "machines/compare.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/redraw.h"
#include "screen/screen.h"

namespace {

WaitHooks g_hooks;
int g_keyboard_fd = STDIN_FILENO;

// Each start of a held child waits for the kernel to load ssh: starting a batch in slices of this long,
// one per turn, keeps the screen and the keys served while hundreds of machines start.
constexpr int kReleaseSliceMs = 20;
// How often a keyboard held back for a machine that is not reading is looked at again.
constexpr int kHeldKeyboardMs = 50;

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

bool keyboard_ready()
{
    return !g_hooks.keyboard_ready || g_hooks.keyboard_ready();
}

// A poll that finds a terminal ready at once returns without taking the signals its mask lets in; with
// machines printing without pause it never sleeps, so a waiting new size is let in here, for the key
// read after it to report.
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
    if (g_hooks.resized) g_hooks.resized();
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
        if (g_hooks.terminal_lost) g_hooks.terminal_lost();
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
        if (!layout_fits()) {
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

std::vector<pollfd> g_fds;

enum class Woke { Timeout, Keyboard, Fd, Other };

// One poll of everything the program waits on.
Woke poll_all(int timeout_ms, int extra_fd)
{
    g_fds.clear();
    bool keys = keyboard_in_paste(g_keys) || keyboard_ready();
    g_fds.push_back({keys ? g_keyboard_fd : -1, POLLIN, 0});
    g_fds.push_back({extra_fd, POLLIN, 0});
    g_fds.push_back({signal_wake_fd(), POLLIN, 0});
    for (int i = 0; i < mlist_count(); ++i) {
        TarvikVt *vt = mlist_machine(i)->term.get();
        int fd = tarvik_vt_fd(vt);
        // Input waiting for a child wakes the wait once the child can take it.
        short events = tarvik_vt_input_room(vt) < kTarvikInputMax ? POLLIN | POLLOUT : POLLIN;
        if (fd >= 0) g_fds.push_back({fd, events, 0});
    }
    timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    int n = ppoll(g_fds.data(), g_fds.size(), timeout_ms < 0 ? nullptr : &ts, &g_poll_mask);
    if (n == 0) return Woke::Timeout;
    if (n < 0) return Woke::Other; // a signal: the work will see what it brought
    // Emptied before the work looks at what the handlers set: a signal after this wakes the next wait.
    if (g_fds[2].revents) signal_wake_drain();
    if (g_fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        if (g_hooks.terminal_lost) g_hooks.terminal_lost();
    }
    if (g_fds[0].revents & POLLIN) return Woke::Keyboard;
    if (g_fds[1].revents) return Woke::Fd;
    return Woke::Other;
}

// Waits until a key, the extra descriptor or the deadline (negative: none); the machines are served
// and the screen repainted meanwhile.
int wait_until(long deadline_ms, int extra_fd)
{
    for (;;) {
        int key = take_key();
        if (key != ERR) return key;
        if (g_hooks.work) g_hooks.work();
        wait_repaint();
        // Held logins start only now that the list shows their machines; they learn their pids before
        // any of their exits can be reaped.
        if (tarvik_vt_release_children(kReleaseSliceMs) > 0) mlist_children_started();
        int timeout = -1;
        if (deadline_ms >= 0) timeout = static_cast<int>(std::max(0L, deadline_ms - clock_now_ms()));
        if (tarvik_vt_held_children() > 0) timeout = 0;
        // A list mark held back while answers poured in is drawn once they stop, with no key needed.
        int marks = compare_marks_due_ms();
        if (marks >= 0) timeout = timeout < 0 ? marks : std::min(timeout, marks);
        // A machine that ended is closed, with its note, when its last output is surely in.
        int linger = tarvik_vt_linger_ms();
        if (linger >= 0) timeout = timeout < 0 ? linger : std::min(timeout, linger);
        // A keyboard held back is looked at again soon, whatever else happens.
        if (!keyboard_ready()) timeout = timeout < 0 ? kHeldKeyboardMs : std::min(timeout, kHeldKeyboardMs);
        // A lone Escape is told from the start of a key, and a paste that never ends ends, with no byte
        // more to come.
        int keys = keyboard_due_ms(g_keys, clock_now_ms());
        if (keys >= 0) timeout = timeout < 0 ? keys : std::min(timeout, keys);
        Woke woke = poll_all(timeout, extra_fd);
        if (woke == Woke::Fd) return kWaitFdReady;
        if (deadline_ms >= 0 && clock_now_ms() >= deadline_ms) {
            // A key that came with the deadline is still taken.
            key = take_key();
            return key;
        }
    }
}

} // namespace

void wait_init(const WaitHooks &hooks)
{
    g_hooks = hooks;
    // A new size is the wait's to see, not curses' (whose keys the program no longer reads).
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
    // Dialogs are drawn only over the panels, never over the too-small notice.
    if (g_dialogs.empty() || !layout_fits()) {
        redraw(false);
        return;
    }
    redraw_panels(false);
    for (const OpenDialog &d : g_dialogs)
        if (d.paint) d.paint(d.ctx);
    redraw_update();
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

int wait_key_now()
{
    return take_key();
}

const std::string &wait_paste_text()
{
    return g_paste;
}

const std::string &wait_key_bytes()
{
    return g_unknown;
}

void wait_unread_key(int key)
{
    if (key != ERR) g_unread.push_back(key);
}
