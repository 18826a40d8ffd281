// A screen of the terminal layer and a curses window to draw it into, on a real curses screen with the
// terminal layer's colours: what the tests that draw screens start from.
#pragma once

#include <curses.h>

#include <memory>
#include <string>

#include "screen/window.h"
#include "support/curses_screen.h"
#include "term/tarvik.h"

// A bare window on the running curses screen (curses' own background), deleted with its owner.
WindowPtr vt_window_new(int rows, int cols, int y, int x);

struct VtWindow {
    CursesScreen curses;
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt;
    WindowPtr win; // the screen's size, at the terminal's corner
    // A screen of rows x cols on a terminal of term_rows x term_cols of the type `term`.
    VtWindow(int rows, int cols, int term_rows, int term_cols, const char *term = "xterm-256color");
    // Gives the screen the bytes as its child's output, draws it into the window, sends the update
    // (with `over` refreshed above the window) and waits until the terminal has read it.
    void show(const std::string &bytes, WINDOW *over = nullptr);
};
