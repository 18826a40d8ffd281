// Attribute bytes: bit 7 bold, bits 6-4 foreground, bit 3 blink, bits 2-0 background (curses colours).
#pragma once

#include <curses.h>

// The colour pair that shows foreground fg on background bg (each 0-7); pair 0 is white on black.
constexpr int color_pair_number(int fg, int bg) { return bg * 8 + 7 - fg; }

// Defines pairs 1 to 63, one per foreground/background combination; pair 0 is left as it is.
void init_color_pairs();

// Replaces the window's attributes with what the attribute byte describes (only its low 8 bits count).
// A null window is ignored.
void set_color(WINDOW *win, int attribute);
