// Helpers for tests of the terminal layer: a screen's text, and a shell script to run as a child.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "term/tarvik.h"

// The row's characters as UTF-8, covered halves of wide characters skipped, trailing blanks dropped.
std::string vt_row_text(const TarvikVt *vt, int row);

// Every row's text, each ended by a newline.
std::string vt_screen_text(const TarvikVt *vt);
// Every cell's character, the rows run together: a message that wraps at a row's end reads whole.
std::string vt_flat_text(const TarvikVt *vt);

// Everything the screen shows, in text for comparing two screens: the cursor, then each row's cells
// (characters and marks, width, colours and attributes) up to the last one that shows anything.
std::string vt_screen_state(const TarvikVt *vt);
// The same of line cells, as the scrollback gets them.
std::string vt_line_state(const TarvikLineCell *cells, int count);

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

// A screen of rows x cols with a shell script as its child. When it goes, the screen is destroyed,
// which hangs the child up, and the child is reaped unless reap() did that already.
struct VtScript {
    Script script;
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt;
    pid_t pid;
    VtScript(int rows, int cols, const std::string &body);
    ~VtScript();
    VtScript(const VtScript &) = delete;
    VtScript &operator=(const VtScript &) = delete;
    // Waits for the child to end (killed after 5 s) and reaps it: its wait status.
    int reap();

private:
    bool reaped_ = false;
};
