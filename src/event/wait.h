// The program's one wait: the keyboard, the descriptors its parts registered, child exits and the
// other signals, and the deadlines of its tasks, in one poll. The main loop and every dialog read their
// keys through here, so the machines keep running whatever waits for the user.
//
// How the program's work flows through it, for a newcomer:
//   a key: the user's terminal -> the decoder (keyboard.cpp) -> wait_key, returning to the main loop's
//     dispatch (app/loop.cpp) or to the open dialog -> mlist_send_* (machines/mlist.cpp), which picks
//     the machines keys go to now -> tarvik_vt_* (term/) -> their pseudo-terminals.
//   a machine's output: the poll here finds its terminal readable -> the machines' source (mlist_ready)
//     -> tarvik_vt_update_ready reads exactly the terminals found ready -> filter -> libvterm -> cells;
//     then the tasks run (the compare module reads the answers when they changed) and the screen is
//     repainted (screen/redraw.cpp), the open dialogs over it.
//   a multicast Enter: the main loop has compare_note_sent mark where each answer starts, then sends.
// Each turn: a key typed already is returned at once; otherwise child exits are reaped, the tasks due
// run, the screen is repainted, the tasks that follow a repaint run, and the poll sleeps until a key,
// a descriptor, a signal or the nearest deadline.
#pragma once

#include <poll.h>

#include <cstddef>
#include <string>
#include <vector>

#include "event/keys.h"

// A part of the program with descriptors to watch: before each poll it adds its own entries (watch),
// and after the poll it gets back those entries with what the poll found (ready), with nothing run in
// between. `ready` is called only when the poll found something.
struct WaitSource {
    void (*watch)(std::vector<pollfd> &fds, void *ctx) = nullptr;
    void (*ready)(const pollfd *fds, size_t count, void *ctx) = nullptr;
    void *ctx = nullptr;
};
void wait_add_source(const WaitSource &source);

// Work with a time: `due` gives the milliseconds until it must run (0 for now, -1 for nothing to do),
// and the wait runs it once due, in a turn before the repaint, or after it for work that must follow
// what the screen shows (`after_repaint`: logins start once the list shows their machines).
struct WaitTask {
    int (*due)(void *ctx) = nullptr;
    void (*run)(void *ctx) = nullptr;
    void *ctx = nullptr;
    bool after_repaint = false;
};
void wait_add_task(const WaitTask &task);

// The user's terminal as the wait serves it. `paint` puts the panels into curses' picture of the screen
// (or the notice while the screen is too small for them), `update` sends the picture; `fits` says
// whether the panels fit now: while they do not, no dialog is drawn and keys and pastes are dropped.
// `resized` lays the screen out again at a new size; `lost` is for a terminal that is gone (hang-up
// with no signal) and does not return.
struct WaitScreen {
    void (*paint)() = nullptr;
    void (*update)() = nullptr;
    bool (*fits)() = nullptr;
    void (*resized)() = nullptr;
    void (*lost)() = nullptr;
};
void wait_set_screen(const WaitScreen &screen);

// While `ready` returns false the keyboard is not read and keys wait in the user's terminal: a machine
// cannot take more input yet. It is asked again every few tens of milliseconds.
void wait_set_keyboard_gate(bool (*ready)());

// Takes the new sizes of the window from now on; blocks SIGWINCH for the whole process outside the
// wait's own poll (children start with no signal blocked), so that a new size is seen at once.
void wait_init();
// The descriptor keys are read from: standard input unless the screen was made on another.
void wait_set_keyboard_fd(int fd);

// Repaints one open dialog over the panels.
using WaitPaint = void (*)(void *ctx);

// While alive, its dialog is drawn over the panels after each repaint behind it, in the order the
// dialogs were opened (a question asked from the menu is drawn over the menu); keys, pastes and a new
// size reach the dialog opened last, which is the one reading.
class WaitDialog {
public:
    WaitDialog(WaitPaint paint, void *ctx);
    ~WaitDialog();
    WaitDialog(const WaitDialog &) = delete;
    WaitDialog &operator=(const WaitDialog &) = delete;
};

// The next key, waiting as long as it takes.
int wait_key();
// The next key, or ERR once timeout_ms have passed without one.
int wait_key_for(int timeout_ms);
// The next key, or kWaitFdReady as soon as fd has something to read.
int wait_key_or_fd(int fd);
// The descriptor the keys of this turn are read from; -1 while they are held back. For a part that
// reads long and should stop once a key waits.
int wait_keys_fd();
// A key already typed (put back, or waiting in the terminal), or ERR at once. Runs no task and draws
// nothing, so that every waiting key can be taken in one turn.
int wait_key_now();

// Puts a key back: the next read returns it before anything typed after it. Keys put back one after
// another come out last first.
void wait_unread_key(int key);

// Repaints the screen now: the panels, then every open dialog.
void wait_repaint();

// The text of the paste kKeyPaste announced: the bytes as pasted, without the brackets. A paste too
// long for one piece comes as several kKeyPaste in a row, all of them to the dialog (or the main loop)
// that took the first: once that one is gone, the rest of the paste is dropped.
const std::string &wait_paste_text();
// The bytes of the sequence kKeyUnknown announced.
const std::string &wait_key_bytes();
