// The one wait of the program: the keyboard, the machines' terminals and child exits, in one poll.
#include "dialogs/wait.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

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
};
std::vector<OpenDialog> g_dialogs;

// A bracketed paste being read: its bytes come straight from the terminal, never through curses' key
// decoding, so a pasted "ESC O P" is text and not F1.
bool g_in_paste = false;
std::string g_paste;
// The start of a closing bracket that a full piece ended with; it begins the next piece.
std::string g_paste_carry;
bool g_paste_handed = false; // g_paste went to the caller: the next read starts a new piece
long g_paste_last_ms = 0;
// Keys the paste read past its closing bracket, for curses to decode as usual.
constexpr std::string_view kPasteEnd = "\033[201~";
// A paste whose closing bracket never comes ends after this much quiet.
constexpr int kPasteQuietMs = 300;
// A longer paste is handed on in pieces of this size, so memory stays bounded.
constexpr size_t kPastePiece = 256 * 1024;

// The signal mask for the poll alone: SIGWINCH is blocked everywhere else, so that a new size can only
// arrive while the wait sleeps, and wakes it. Otherwise it could come just after the key read that
// would have reported it, and sit unseen until the next key or output.
sigset_t g_poll_mask;

bool keyboard_ready()
{
    return !g_hooks.keyboard_ready || g_hooks.keyboard_ready();
}

// Hands bytes back to curses, first byte first out.
void unread(std::string_view bytes)
{
    for (size_t i = bytes.size(); i > 0; --i) ungetch(static_cast<unsigned char>(bytes[i - 1]));
}

// Reads what the terminal has of the paste; true when a piece is ready in g_paste (the paste ended,
// or a piece is full).
bool paste_read()
{
    if (g_paste_handed) {
        g_paste.swap(g_paste_carry);
        g_paste_carry.clear();
        g_paste_handed = false;
    }
    char buf[4096];
    ssize_t n = read(g_keyboard_fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    if (n <= 0) {
        if (g_hooks.terminal_lost) g_hooks.terminal_lost();
        g_in_paste = false;
        return true;
    }
    g_paste_last_ms = tarvik_now_ms();
    // The closing bracket may have been split between two reads.
    size_t from = g_paste.size() >= kPasteEnd.size() ? g_paste.size() - kPasteEnd.size() + 1 : 0;
    g_paste.append(buf, static_cast<size_t>(n));
    size_t end = g_paste.find(kPasteEnd, from);
    if (end != std::string::npos) {
        unread(std::string_view(g_paste).substr(end + kPasteEnd.size()));
        g_paste.resize(end);
        g_in_paste = false;
        return true;
    }
    if (g_paste.size() < kPastePiece) return false;
    // Keep back what may be the start of the closing bracket.
    for (size_t keep = kPasteEnd.size() - 1; keep > 0; --keep) {
        if (std::string_view(g_paste).ends_with(kPasteEnd.substr(0, keep))) {
            g_paste_carry = g_paste.substr(g_paste.size() - keep);
            g_paste.resize(g_paste.size() - keep);
            break;
        }
    }
    return true;
}

int hand_paste()
{
    g_paste_handed = true;
    return kKeyPaste;
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

// The next key from curses without waiting, or ERR. A paste's opening bracket starts reading the
// paste; its text is then announced by kKeyPaste once it is whole.
int take_key()
{
    if (g_in_paste || !keyboard_ready()) return ERR;
    // Never a blocking read: waiting is the poll's job.
    wtimeout(stdscr, 0);
    take_size_change();
    int key = wgetch(stdscr);
    for (;; key = wgetch(stdscr)) {
        // A new size is the program's own business, never a key for a dialog or a machine.
        if (key == KEY_RESIZE) {
            if (g_hooks.resized) g_hooks.resized();
            continue;
        }
        // Behind the too-small notice the user cannot see what a key would do: it does nothing.
        if (key != ERR && key != kKeyPasteBegin && !layout_fits()) continue;
        break;
    }
    if (key == kKeyPasteBegin) {
        g_in_paste = true;
        g_paste.clear();
        g_paste_carry.clear();
        g_paste_handed = false;
        g_paste_last_ms = tarvik_now_ms();
        return ERR;
    }
    return key;
}

std::vector<pollfd> g_fds;

enum class Woke { Timeout, Keyboard, Fd, Other };

// One poll of everything the program waits on.
Woke poll_all(int timeout_ms, int extra_fd)
{
    g_fds.clear();
    bool keys = g_in_paste || keyboard_ready();
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
        if (deadline_ms >= 0) timeout = static_cast<int>(std::max(0L, deadline_ms - tarvik_now_ms()));
        if (tarvik_vt_held_children() > 0) timeout = 0;
        // A list mark held back while answers poured in is drawn once they stop, with no key needed.
        int marks = compare_marks_due_ms();
        if (marks >= 0) timeout = timeout < 0 ? marks : std::min(timeout, marks);
        // A machine that ended is closed, with its note, when its last output is surely in.
        int linger = tarvik_vt_linger_ms();
        if (linger >= 0) timeout = timeout < 0 ? linger : std::min(timeout, linger);
        // A keyboard held back is looked at again soon, whatever else happens.
        if (!keyboard_ready()) timeout = timeout < 0 ? kHeldKeyboardMs : std::min(timeout, kHeldKeyboardMs);
        if (g_in_paste) {
            int quiet = static_cast<int>(std::max(0L, g_paste_last_ms + kPasteQuietMs - tarvik_now_ms()));
            timeout = timeout < 0 ? quiet : std::min(timeout, quiet);
        }
        Woke woke = poll_all(timeout, extra_fd);
        if (g_in_paste) {
            if (woke == Woke::Keyboard && paste_read()) {
                // A paste behind the too-small notice goes nowhere, like a key.
                if (layout_fits()) return hand_paste();
                hand_paste();
                continue;
            }
            if (g_in_paste && tarvik_now_ms() - g_paste_last_ms >= kPasteQuietMs) {
                // No closing bracket came: what arrived is the paste, nothing of it lost.
                g_in_paste = false;
                if (g_paste_handed) g_paste.clear();
                g_paste += g_paste_carry;
                g_paste_carry.clear();
                if (layout_fits()) return hand_paste();
                hand_paste();
                continue;
            }
            continue;
        }
        if (woke == Woke::Fd) return kWaitFdReady;
        if (deadline_ms >= 0 && tarvik_now_ms() >= deadline_ms) {
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
    g_dialogs.push_back({paint, ctx});
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
    return wait_until(tarvik_now_ms() + std::max(0, timeout_ms), -1);
}

int wait_key_or_fd(int fd)
{
    return wait_until(-1, fd);
}

int wait_key_now()
{
    return take_key();
}

void wait_unread_key(int key)
{
    ungetch(key);
}

const std::string &wait_paste_text()
{
    return g_paste;
}
