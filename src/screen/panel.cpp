// The record of what a panel's window shows, and writing its characters.
#include "screen/panel.h"

#include "term/tarvik.h"

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

size_t panel_put_text(WINDOW *win, std::string_view text, int width, int *columns)
{
    int used = 0;
    mbstate_t state{};
    size_t at = 0;
    while (at < text.size()) {
        wchar_t wc;
        size_t n = mbrtowc(&wc, text.data() + at, text.size() - at, &state);
        int w;
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            state = mbstate_t{};
            wc = L'?';
            n = 1;
            w = 1;
        } else {
            if (n == 0) n = 1; // an embedded zero byte
            w = tarvik_char_is_format(static_cast<uint32_t>(wc)) ? 0 : wcwidth(wc);
            if (w < 0) {
                wc = L'?';
                w = 1;
            }
        }
        if (used + w > width) break;
        if (win && w > 0) panel_put_char(win, wc);
        used += w;
        at += n;
    }
    if (columns) *columns = used;
    return at;
}
