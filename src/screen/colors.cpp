// Attribute bytes applied to windows, through the colour pairs of the terminal layer.
#include "screen/colors.h"

#include "term/tarvik.h"

namespace {

// What tells the program's looks apart on a terminal without colours (TERM=vt100, say).
attr_t plain_look(int attribute)
{
    int fg = (attribute >> 4) & 7;
    int bg = attribute & 7;
    attr_t look = A_NORMAL;
    // What has a background of its own stands out: the selected row, the bar, popups, errors.
    if (bg != COLOR_BLACK) look |= A_REVERSE;
    if (attribute & kAttrBlink) look |= A_BLINK;
    if (attribute & (kAttrPlainBold | kAttrPlainFaded)) {
        if (attribute & kAttrPlainBold) look |= A_BOLD;
        if (attribute & kAttrPlainFaded) look |= (termattrs() & A_DIM) ? A_DIM : A_UNDERLINE;
    } else if (attribute & kAttrBold) {
        look |= fg == COLOR_BLACK ? A_DIM : A_BOLD;
    }
    return look;
}

} // namespace

void set_color(WINDOW *win, int attribute)
{
    if (!win) return;
    if (!has_colors() || COLORS < 8) {
        wattrset(win, plain_look(attribute));
        return;
    }
    int fg = (attribute >> 4) & 7;
    int bg = attribute & 7;
    // Replaces, not adds: every call decides the whole look of the text that follows.
    wattrset(win, COLOR_PAIR(tarvik_color_pair(fg, bg)));
    if (attribute & kAttrBold) wattr_on(win, A_BOLD, nullptr);
    if (attribute & kAttrBlink) wattr_on(win, A_BLINK, nullptr);
}
