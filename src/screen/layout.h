// The division of the screen into panels, made at start-up and again whenever the screen changes size.
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

// Lays the panels out again for curses' new screen size, with the widths layout_create was given: the
// same windows, moved and resized (a summary window comes or goes with its room), the frame and the
// key-help bar drawn again, and every window left to repaint whole at its next refresh. False, with
// the windows left alone, when the screen is now too small for the panels: the notice takes the screen
// until a later call finds room again.
bool layout_resize(LayoutSize *size);
// False while the screen is too small for the panels.
bool layout_fits();
// Puts the too-small notice on the standard screen, for the next update: the size needed and the
// size now, centred.
void layout_draw_notice();

// Gives the area right of the list (the summary column, the separator and the terminal panel, from the
// top line down) to the wall's window, or back to those panels; the terminal panel's size, and so every
// machine's, stays as it is. False, with nothing changed, when the wall would have no room for a tile.
bool layout_set_wall(bool on);
bool layout_wall();

WINDOW *layout_list_window();
WINDOW *layout_summary_window(); // null when there is no room for it; may change at layout_resize
WINDOW *layout_terminal_window();
WINDOW *layout_minibuf_window();
// Null without the wall. The terminal window still exists under it, for the views that open over it.
WINDOW *layout_wall_window();
