// The list panel: each machine's row from the scroll position down.
#pragma once

#include <curses.h>

#include "machines/machine.h"

// Paints the rows of the list window that changed since it was last painted (all of them after anything
// else drew into it): tag mark, name, the state's colours, the selection, the odd-answer mark.
void list_draw(WINDOW *win);

// The attribute byte of a machine's row: colour by tag and life, a red background when selected. The
// wall's titles share it, so that a machine looks the same in both.
int list_row_attribute(const Machine &m, bool selected);
// The mark of the list's last column: '!' an odd answer, '?' a question, '~' a queued login, else ' '.
char list_mark(const Machine &m);
