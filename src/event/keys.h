// Keys the program's dialogs take by their byte, and the codes of the wait's own events, past every
// curses key.
#pragma once

#include <curses.h>

constexpr int kCtrlC = 3, kCtrlG = 7, kCtrlH = 8, kCtrlJ = 10, kCtrlM = 13, kCtrlU = 21;
constexpr int kEscape = 27, kDelete = 127;

// A bracketed paste arrived, its text in wait_paste_text().
constexpr int kKeyPaste = KEY_MAX + 1;
// Returned by wait_key_or_fd when the extra descriptor has something to read (or is at its end).
constexpr int kWaitFdReady = KEY_MAX + 2;
// A sequence that starts with ESC but is no key curses knows (Alt with a letter or Enter, a key of another
// terminal), its bytes in wait_key_bytes(). A machine gets it as typed; a dialog takes it as one key
// that is none of its own.
constexpr int kKeyUnknown = KEY_MAX + 4;
