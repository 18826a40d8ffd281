// Repaints every panel from the machine list; the curses refresh sends only what changed.
#pragma once

#include <curses.h>

// Repaints the list, summary, terminal and mode indicator; `full` also repaints the frame and makes
// curses resend every panel (after a popup covered them). On a screen too small for the panels, the
// notice that says so instead.
void redraw(bool full);
// The same, left in curses' picture of the screen for a doupdate after the open dialogs are drawn over.
void redraw_panels(bool full);

// Shows or hides the user's terminal cursor at the next redraw_update; the redraw follows the selected
// terminal's own wish, and a prompt shows it at its input position.
void redraw_show_cursor(bool show);
// Sends curses' picture of the screen to the terminal, with the cursor shown or hidden as last wished.
void redraw_update();

// A note shown on the bottom line left of the mode indicator (none when null), until replaced.
void redraw_set_note(const char *text, int attribute);

// The selected machine's terminal in its panel, and the cursor where its program wants it.
void redraw_terminal(WINDOW *win);
// The mode indicator and the note on the bottom line.
void redraw_status();
