// Attribute bytes and colour pairs on a real curses screen and the terminal it draws on.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "screen/colors.h"
#include "support/curses_screen.h"
#include "term/tarvik.h"

namespace {

TEST(Colors, AttributeBytesGiveTheirPairBoldAndBlink)
{
    struct Case {
        std::vector<int> bytes; // applied in order; the last one decides
        int pair;
        bool bold, blink;
    };
    const Case cases[] = {
        {{0x70}, 0, false, false}, // white on black: no attributes at all
        {{0x80}, 7, true, false},
        {{0xF9}, 8, true, true},
        {{0xF1}, 8, true, false},
        {{0x07}, 63, false, false},
        {{0x40}, 3, false, false},
        {{0xC0}, 3, true, false},
        {{0xF4}, 32, true, false},
        {{0xE4}, 33, true, false},
        {{0x71}, 8, false, false},
        // Each byte replaces what the one before set.
        {{0x90, 0x40}, 3, false, false},
        {{0xF9, 0x70}, 0, false, false},
        // Only the low eight bits count.
        {{0x1F9}, 8, true, true},
    };
    CursesScreen scr(25, 80);
    start_color();
    tarvik_colors_init();
    WINDOW *win = newwin(5, 20, 0, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        for (int byte : c.bytes) set_color(win, byte);
        mvwaddch(win, 0, 0, 'x');
        WindowCell cell = window_cell(win, 0, 0);
        EXPECT_EQ(cell.pair, c.pair);
        EXPECT_EQ((cell.attrs & A_BOLD) != 0, c.bold);
        EXPECT_EQ((cell.attrs & A_BLINK) != 0, c.blink);
        EXPECT_EQ(cell.attrs & ~(A_BOLD | A_BLINK), 0u);
    }
    delwin(win);
}

// On a terminal without colours (a vt100: bold, underline, reverse and blink, no dim) the looks are told
// apart by what it has: no colour pair at all, and the selection, errors and the multicast indicator in
// reverse video, tagged rows bold, dead ones faded (underlined, for want of dim).
TEST(Colors, WithoutColoursLooksBecomeReverseBoldFadedOrBlinking)
{
    struct Case {
        int look;
        attr_t attrs;
    };
    const Case cases[] = {
        {kAttrText, A_NORMAL},
        {kAttrError, A_REVERSE | A_BOLD},
        {kAttrMulticast, A_REVERSE | A_BOLD | A_BLINK},
        {kAttrSummary, A_DIM},
        {kAttrRowTaggedDead | kAttrRowSelected, A_REVERSE | A_BOLD | A_UNDERLINE},
    };
    CursesScreen scr(25, 80, "vt100");
    start_color();
    tarvik_colors_init();
    WINDOW *win = newwin(5, 20, 0, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.look);
        set_color(win, kAttrMulticast);
        set_color(win, c.look);
        mvwaddch(win, 0, 0, 'x');
        WindowCell cell = window_cell(win, 0, 0);
        EXPECT_EQ(cell.pair, 0);
        EXPECT_EQ(cell.attrs, c.attrs);
    }
    delwin(win);
}

TEST(Colors, SetColorLeavesWrittenTextAndTheBackgroundAlone)
{
    CursesScreen scr(25, 80);
    start_color();
    tarvik_colors_init();
    WINDOW *win = newwin(5, 20, 0, 0);
    chtype background = getbkgd(win);
    set_color(win, 0xF9);
    mvwaddch(win, 0, 0, 'a');
    set_color(win, 0x40);
    set_color(nullptr, 0x40); // ignored
    WindowCell a = window_cell(win, 0, 0);
    EXPECT_EQ(a.pair, 8);
    EXPECT_EQ(a.attrs, A_BOLD | A_BLINK);
    EXPECT_EQ(getbkgd(win), background);
    delwin(win);
}

// Every foreground/background combination, drawn through its pair, shows those colours on the
// terminal; pair 0 keeps the terminal's own colours.
TEST(Colors, EveryCombinationHasItsOwnPairAndPairZeroIsUntouched)
{
    CursesScreen scr(25, 80);
    start_color();
    short fg0, bg0, fg64, bg64;
    pair_content(0, &fg0, &bg0);
    pair_content(64, &fg64, &bg64);
    tarvik_colors_init();

    short f, b;
    pair_content(0, &f, &b);
    EXPECT_EQ(f, fg0);
    EXPECT_EQ(b, bg0);
    pair_content(64, &f, &b);
    EXPECT_EQ(f, fg64);
    EXPECT_EQ(b, bg64);

    for (int bg = 0; bg < 8; ++bg)
        for (int fg = 0; fg < 8; ++fg) {
            set_color(stdscr, fg << 4 | bg);
            mvwaddch(stdscr, bg, fg, 'x');
        }
    wrefresh(stdscr);
    scr.settle(200);
    for (int bg = 0; bg < 8; ++bg)
        for (int fg = 0; fg < 8; ++fg) {
            ReadCell c = scr.terminal().cell(bg, fg);
            SCOPED_TRACE("fg " + std::to_string(fg) + " bg " + std::to_string(bg));
            EXPECT_EQ(c.text, "x");
            if (fg == COLOR_WHITE && bg == COLOR_BLACK) {
                EXPECT_TRUE(c.fg == -1 || c.fg == COLOR_WHITE) << c.fg;
                EXPECT_TRUE(c.bg == -1 || c.bg == COLOR_BLACK) << c.bg;
            } else {
                EXPECT_EQ(c.fg, fg);
                EXPECT_EQ(c.bg, bg);
            }
        }
}

} // namespace
