// Filling a window: every cell, the bottom-right one included, in the window's current attributes.
#include "screen/window.h"

#include <gtest/gtest.h>

#include "screen/colors.h"
#include "support/curses_screen.h"
#include "term/tarvik.h"

namespace {

TEST(Window, FillWritesEveryCellInTheCurrentAttributes)
{
    CursesScreen screen(25, 80);
    start_color();
    tarvik_colors_init();
    WindowPtr win = window_new(3, 4, 2, 76); // its last cell is the screen's right edge
    ASSERT_TRUE(win);
    set_color(win.get(), kAttrHighlight);
    fill_window(win.get(), '.');
    EXPECT_EQ(getcury(win.get()), 0);
    EXPECT_EQ(getcurx(win.get()), 0);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            WindowCell cell = window_cell(win.get(), r, c);
            EXPECT_EQ(cell.text, ".") << r << "," << c;
            EXPECT_EQ(cell.pair, tarvik_color_pair(COLOR_CYAN, COLOR_BLUE)) << r << "," << c;
            EXPECT_EQ(cell.attrs, A_BOLD) << r << "," << c;
        }
    win.reset();
    fill_window(nullptr, '.');
}

} // namespace
