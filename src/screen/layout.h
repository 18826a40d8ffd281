// The fixed division of the screen into panels, made once at start-up.
#pragma once

#include <curses.h>

struct LayoutSize {
    int rows; // terminal panel rows: every machine's terminal has this size
    int cols; // terminal panel columns
};

// Creates the list, summary (when it has at least 3 columns), terminal and minibuffer windows, draws
// the frame and the key-help bar, and returns the terminal panel's size. A list width that leaves the
// terminal panel no column ends curses with a message and exit status 1.
LayoutSize layout_create(int list_width, int term_width);

WINDOW *layout_list_window();
WINDOW *layout_summary_window(); // null when there is no room for it
WINDOW *layout_terminal_window();
WINDOW *layout_minibuf_window();
