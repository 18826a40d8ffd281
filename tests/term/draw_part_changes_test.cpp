// A part of a screen drawn again paints only its rows that changed: the wall's tiles must still end up
// exactly as a whole paint of the part leaves them.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/curses_screen.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

// A tile of 6 x 20 at (1, 2) of the window, showing the screen from row 2 and column 3 on.
constexpr int kY = 1, kX = 2, kRows = 6, kCols = 20, kTop = 2, kLeft = 3;

std::string draw_changes(TarvikVt *vt, WINDOW *win)
{
    tarvik_next_frame();
    tarvik_vt_draw_part_changes(vt, win, kY, kX, kRows, kCols, kTop, kLeft);
    return window_dump(win);
}

std::string draw_whole(TarvikVt *vt, WINDOW *win)
{
    tarvik_next_frame();
    tarvik_vt_draw_part(vt, win, kY, kX, kRows, kCols, kTop, kLeft);
    return window_dump(win);
}

TEST(DrawPartChanges, TileMatchesAWholePaintAfterEveryKindOfChange)
{
    CursesScreen screen(30, 100);
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(10, 40)), other(tarvik_vt_create(10, 40));
    WINDOW *win = newwin(10, 30, 0, 0);
    vt_feed_output(vt.get(), "first\r\n\033[1;31mred\033[0m and plain\r\nthird line here\r\n$ ");
    vt_feed_output(other.get(), "\033[3;1Hanother machine's screen, all over the tile");
    draw_whole(vt.get(), win);

    struct Step {
        const char *output;
        TarvikVt *drawn_between; // another screen painted over the tile first, or none
    };
    const Step steps[] = {
        {"x", nullptr},                               // an echo inside the part
        {"\033[1;1Habove the part", nullptr},         // a row the part does not show
        {"\033[5;2Hleft of it and into it", nullptr}, // columns left of the part and in it
        {"\033[7mreverse\033[0m\r\n", nullptr},
        {"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11", nullptr}, // scrolling every row
        {"\xe4\xb8\xad\xe6\x96\x87 wide", nullptr},
        {"\033[44m\033[2J\033[H", nullptr},
        {"y", other.get()}, // the tile showed another machine meanwhile
    };
    for (const Step &s : steps) {
        if (s.drawn_between) draw_whole(s.drawn_between, win);
        vt_feed_output(vt.get(), s.output);
        std::string changed = draw_changes(vt.get(), win);
        EXPECT_EQ(changed, draw_whole(vt.get(), win)) << "after " << s.output;
    }

    // Rows that did not change are left alone: a mark planted in one survives.
    mvwaddch(win, kY + kRows - 1, kX + kCols - 1, 'M');
    vt_feed_output(vt.get(), "\033[3;5H!");
    draw_changes(vt.get(), win);
    EXPECT_EQ(static_cast<char>(mvwinch(win, kY + kRows - 1, kX + kCols - 1) & A_CHARTEXT), 'M');
    delwin(win);
}

} // namespace
