// The one place that waits: the keyboard, every machine's terminal and child exits. The main loop and
// every dialog read their keys through here, so machines keep running whatever waits for the user.
#pragma once

#include <curses.h>

#include <string>

// What the program does between keys, handed in once at start-up (the wait sits below the program).
struct WaitHooks {
    // Reaps exited children, takes in every terminal's output, starts held children.
    void (*work)() = nullptr;
    // The user's terminal is gone (hang-up without a signal): does not return.
    void (*terminal_lost)() = nullptr;
    // The terminal changed size: lay the screen out again. While the layout finds the screen too small,
    // the wait shows its notice, draws no dialog and drops every key and paste.
    void (*resized)() = nullptr;
    // While it returns false the keyboard is not read and keys wait in the user's terminal: a machine
    // cannot take more input yet.
    bool (*keyboard_ready)() = nullptr;
};
// Also blocks SIGWINCH for the whole process outside the wait's own poll (children start with no signal
// blocked): a new size is seen at once, whenever it comes.
void wait_init(const WaitHooks &hooks);
// The descriptor curses reads keys from: standard input unless the screen was made on another.
void wait_set_keyboard_fd(int fd);

// Repaints one open dialog over the panels.
using WaitPaint = void (*)(void *ctx);

// While alive, its dialog is drawn over the panels after each repaint behind it, in the order the
// dialogs were opened (a question asked from the menu is drawn over the menu).
class WaitDialog {
public:
    WaitDialog(WaitPaint paint, void *ctx);
    ~WaitDialog();
    WaitDialog(const WaitDialog &) = delete;
    WaitDialog &operator=(const WaitDialog &) = delete;
};

// A key code past every curses key: a bracketed paste arrived, its text in wait_paste_text().
constexpr int kKeyPaste = KEY_MAX + 1;
// Returned by wait_key_or_fd when the extra descriptor has something to read (or is at its end).
constexpr int kWaitFdReady = KEY_MAX + 2;
// A key code past every curses key: a sequence that starts with ESC but is no key curses knows (Alt with
// a letter or Enter, a key of another terminal), its bytes in wait_key_bytes(). A machine gets it as
// typed; a dialog takes it as one key that is none of its own.
constexpr int kKeyUnknown = KEY_MAX + 4;

// The next key, waiting as long as it takes.
int wait_key();
// The next key, or ERR once timeout_ms have passed without one.
int wait_key_for(int timeout_ms);
// The next key, or kWaitFdReady as soon as fd has something to read.
int wait_key_or_fd(int fd);
// A key already typed (put back, or waiting in the terminal), or ERR at once. Runs no work and draws
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
