// Repaints every panel from the machine list; the curses refresh sends only what changed.
#pragma once

#include <curses.h>

// Repaints the list, summary, terminal and mode indicator; `full` also repaints the frame and makes
// curses resend every panel (after a popup covered them).
void redraw(bool full);

void mlist_draw_list();
void mlist_draw_summary(WINDOW *win);
void mlist_draw_terminal(WINDOW *win);
void draw_status();
