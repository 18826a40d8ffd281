// Helpers for tests of the terminal layer: a screen's text, and a shell script to run as a child.
#pragma once

#include <functional>
#include <string>

#include "term/tarvik.h"

// The row's characters as UTF-8, covered halves of wide characters skipped, trailing blanks dropped.
std::string vt_row_text(const TarvikVt *vt, int row);

// Every row's text, each ended by a newline.
std::string vt_screen_text(const TarvikVt *vt);
// Every cell's character, the rows run together: a message that wraps at a row's end reads whole.
std::string vt_flat_text(const TarvikVt *vt);

// Gives the screen bytes as its child's output, without a child.
void vt_feed_output(TarvikVt *vt, const std::string &bytes);

// Updates the terminal until the condition holds (true) or the time is up (false).
bool vt_pump_until(TarvikVt *vt, const std::function<bool()> &cond, int timeout_ms = 5000);

// Runs `update` until no forsaken screen waits for its last output any more (true) or the time is up.
bool vt_settle_forsaken(const std::function<void()> &update, int timeout_ms = 5000);

// Forsakes the screen's child, with the note, and updates it until its last output is in.
void vt_forsake_settled(TarvikVt *vt, const char *note = nullptr);

// A shell script in a temporary file, removed with the object: the terminal layer itself never runs a
// shell, so tests that want one name the script as the program.
struct Script {
    std::string path;
    explicit Script(const std::string &body);
    ~Script();
    Script(const Script &) = delete;
    Script &operator=(const Script &) = delete;
};
