// The record of what a panel's window shows, and writing its characters.
#include "screen/panel.h"

bool panel_holds(PanelRecord &record, WINDOW *win)
{
    int rows = getmaxy(win), cols = getmaxx(win);
    if (record.win == win && record.rows == rows && record.cols == cols && !is_wintouched(win)) return true;
    werase(win);
    record = {win, rows, cols};
    return false;
}

void panel_put_char(WINDOW *win, wchar_t wc)
{
    // Most of what the list and summary show is ASCII, and the plain call is several times cheaper;
    // both draw the character in the window's current attributes.
    if (wc >= 0x20 && wc < 0x7F) {
        waddch(win, static_cast<chtype>(wc));
        return;
    }
    wchar_t text[2] = {wc, 0};
    cchar_t cc;
    attr_t attrs;
    short pair;
    wattr_get(win, &attrs, &pair, nullptr);
    setcchar(&cc, text, attrs, pair, nullptr);
    wadd_wch(win, &cc);
}
