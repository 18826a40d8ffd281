// The list panel: each machine's row from the scroll position down.
#pragma once

#include <curses.h>

// Paints the rows of the list window that changed since it was last painted (all of them after anything
// else drew into it): tag mark, name, the state's colours, the selection, the odd-answer mark.
void list_draw(WINDOW *win);
