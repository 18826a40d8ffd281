// The summary column: each machine's latest text, read backwards from its cursor.
#pragma once

#include <curses.h>

// Paints the rows whose machine's screen changed since they were last painted (all of them after anything
// else drew into the window), from the list's scroll position down.
void summary_draw(WINDOW *win);
