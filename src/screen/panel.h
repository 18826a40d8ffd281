// What the list and summary panels share: the record of what a window shows, and writing characters.
#pragma once

#include <curses.h>
#include <wchar.h>

// A panel's window keeps its cells between redraws, so a redraw writes only the rows whose content
// changed, and each panel remembers what its rows show. That memory holds only for the window and the
// size it was drawn at, and only while nothing else was drawn into the window since its last refresh:
// curses then marks the window touched (after a popup, a full redraw, or anyone else's writing).
// Otherwise the window is erased and every row is drawn again.
struct PanelRecord {
    const WINDOW *win = nullptr;
    int rows = 0;
    int cols = 0;
};

// True when the record still describes the window. Otherwise erases the window, makes the record
// describe it as it is now and returns false: the caller then forgets what its rows showed.
bool panel_holds(PanelRecord &record, WINDOW *win);

// Writes one character in the window's current attributes.
void panel_put_char(WINDOW *win, wchar_t wc);
