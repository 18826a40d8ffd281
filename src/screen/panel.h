// What the panels and views share: the record of what a window shows, and writing characters.
#pragma once

#include <curses.h>
#include <wchar.h>

#include <cstddef>
#include <string_view>

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

// Writes text (UTF-8 from a machine or a name) in the window's current attributes into at most `width`
// columns from its cursor, cleaned as every panel cleans what it shows: a byte that is no character in
// the user's locale, and a control character, as "?"; a format character (a bidi control, a joiner,
// a line separator), which could reorder the row on the user's terminal, left out. It stops before a
// character that would not fit whole. Returns how many bytes of the text it took, and sets `columns`
// (when given) to the columns they fill; with a null window it only counts them.
size_t panel_put_text(WINDOW *win, std::string_view text, int width, int *columns = nullptr);
