// Colour pairs for the 64 foreground/background combinations, and attribute bytes applied to windows.
#include "screen/colors.h"

void init_color_pairs()
{
    for (int fg = 0; fg < 8; ++fg)
        for (int bg = 0; bg < 8; ++bg)
            if (fg != COLOR_WHITE || bg != COLOR_BLACK) init_pair(color_pair_number(fg, bg), fg, bg);
}

void set_color(WINDOW *win, int attribute)
{
    if (!win) return;
    int fg = (attribute >> 4) & 7;
    int bg = attribute & 7;
    // Replaces, not adds: every call decides the whole look of the text that follows.
    wattrset(win, COLOR_PAIR(color_pair_number(fg, bg)));
    if (attribute & kAttrBold) wattr_on(win, A_BOLD, nullptr);
    if (attribute & kAttrBlink) wattr_on(win, A_BLINK, nullptr);
}
