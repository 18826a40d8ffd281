// The user's keyboard decoded: the bytes the terminal sends in, keys, pastes and unknown sequences out.
//
// A key is what curses knows for the running terminal (its description, and the sequences the program
// defines with define_key): the longest sequence it knows wins, the rest of a read is decoded the same
// way, however the bytes were cut into reads. A sequence that starts with ESC and that curses does not
// know (Alt+letter, Alt+Enter, a key of another terminal) is taken whole by its syntax, never split
// into an Escape and keys. A bracketed paste is its text, never keys.
#pragma once

#include <cstddef>
#include <string>

struct KeyEvent {
    enum class Kind { None, Key, Paste, Unknown };
    Kind kind = Kind::None;
    // Key: a byte (0-255) or a curses key code (KEY_F(1), KEY_UP ...).
    int key = 0;
    // Paste: the text as pasted, without its brackets; Unknown: the sequence's bytes.
    std::string text;
    // Paste: a long paste comes in pieces; these say whether this one is its first and its last.
    bool first = true, last = true;
};

struct KeyDecoder {
    std::string pending; // bytes read and not yet decoded
    long waiting_since = -1;
    bool in_paste = false;
    bool paste_started = false; // a piece of the paste being read was handed out already
    std::string paste;
    long paste_last_ms = 0;
};

// Takes bytes read from the keyboard at time `now_ms` (clock_now_ms).
void keyboard_feed(KeyDecoder &d, const char *bytes, size_t len, long now_ms);

// The next event, or an event of kind None when the bytes so far make none yet: an ESC that may start
// a sequence waits for the rest until the escape delay has passed, a paste until its end, its piece
// size or its quiet time.
KeyEvent keyboard_next(KeyDecoder &d, long now_ms);

// Milliseconds from `now_ms` until keyboard_next can decide what it waits for with no more bytes
// (a lone Escape, a paste that never ends); -1 when it waits for nothing.
int keyboard_due_ms(const KeyDecoder &d, long now_ms);

// True while a paste is being read: its bytes must be read however the machines are doing, or the
// paste would stall in the user's terminal.
bool keyboard_in_paste(const KeyDecoder &d);
