// A real curses screen on a pseudo-terminal of a chosen size, for unit tests that draw or read keys.
#pragma once

#include <curses.h>

#include <atomic>
#include <clocale>
#include <string>
#include <thread>

#include "support/screen_reader.h"

class CursesScreen {
public:
    // Starts curses with newterm on a fresh pseudo-terminal; stdscr and LINES/COLS are this screen's.
    CursesScreen(int rows, int cols, const char *term = "xterm-256color");
    ~CursesScreen(); // ends curses and frees the screen

    // Writes bytes to the terminal's input side, as if typed.
    void type(const std::string &bytes);
    // What the physical terminal shows, after curses sent its refreshes.
    const ScreenReader &terminal() const { return reader_; }
    // Waits until curses' output so far has been read into terminal().
    void settle(int ms = 100);
    // Where curses writes to the terminal.
    FILE *output() const { return out_; }

private:
    void pump();
    ScreenReader reader_;
    int master_ = -1;
    int slave_ = -1;
    FILE *out_ = nullptr;
    FILE *in_ = nullptr;
    SCREEN *screen_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Draws under another locale while it lives (LANG=C: no UTF-8), then back to the screen's own. Read
// windows afterwards: turning their characters back into text needs the screen's locale.
struct LocaleScope {
    explicit LocaleScope(const char *name) { std::setlocale(LC_ALL, name); }
    ~LocaleScope() { std::setlocale(LC_ALL, "C.UTF-8"); }
    LocaleScope(const LocaleScope &) = delete;
    LocaleScope &operator=(const LocaleScope &) = delete;
};

// The text of a window row as curses holds it (the window's own content, not the physical screen).
std::string window_row(WINDOW *win, int row);

// Attribute and colour pair of a window cell.
struct WindowCell {
    std::string text;
    attr_t attrs;
    int pair;
};
WindowCell window_cell(WINDOW *win, int row, int col);

// Every cell of the window as text/attributes/pair, row by row: for comparing two paintings.
std::string window_dump(WINDOW *win);
