// Attribute bytes applied to windows, through the colour pairs of the terminal layer.
#include "screen/colors.h"

#include "term/tarvik.h"

void set_color(WINDOW *win, int attribute)
{
    if (!win) return;
    int fg = (attribute >> 4) & 7;
    int bg = attribute & 7;
    // Replaces, not adds: every call decides the whole look of the text that follows.
    wattrset(win, COLOR_PAIR(tarvik_color_pair(fg, bg)));
    if (attribute & kAttrBold) wattr_on(win, A_BOLD, nullptr);
    if (attribute & kAttrBlink) wattr_on(win, A_BLINK, nullptr);
}
