// What a drawn screen puts on the user's terminal: the emulated columns, whatever the C library thinks
// of a character's width, and never a character that could make the terminal reorder the line.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/curses_screen.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

void draw_and_show(TarvikVt *vt, WINDOW *win, CursesScreen &screen)
{
    tarvik_vt_draw(vt, win, 0, 0);
    wnoutrefresh(win);
    doupdate();
    screen.settle(150);
}

// Characters libvterm and the C library measure differently, written over a row of letters: each
// column of the window (curses' picture of the user's terminal) shows its emulated cell or a stand-in
// for it, and none of the letters underneath. (The terminal itself is read only where the reader, which
// is libvterm's own screen, keeps its columns: it widens a character that gets these marks.)
TEST(DrawText, WidthsThatDisagreeLeaveNoStaleGlyph)
{
    CursesScreen screen(6, 30);
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(4, 20));
    WINDOW *win = newwin(4, 20, 0, 0);
    vt_feed_output(vt.get(), "abcdefgh");
    draw_and_show(vt.get(), win, screen);
    ASSERT_EQ(screen.terminal().row_text(0).substr(0, 8), "abcdefgh");

    vt_feed_output(vt.get(), "\r\xf0\x9f\xa4\xbb\xf0\x9f\xa5\x86\xe3\x82\x99\xe3\x82\x99\xe3\x80\xaa\n");
    draw_and_show(vt.get(), win, screen);
    auto letter = [](const std::string &s) { return s.size() == 1 && s[0] >= 'a' && s[0] <= 'h'; };
    for (int col = 0; col < 20; ++col) {
        TarvikCell cell = tarvik_vt_cell(vt.get(), 0, col);
        std::string shown = window_cell(win, 0, col).text;
        SCOPED_TRACE("column " + std::to_string(col) + " shows \"" + shown + "\"");
        if (cell.ch >= 'a' && cell.ch <= 'h')
            EXPECT_EQ(shown, std::string(1, static_cast<char>(cell.ch)));
        else
            EXPECT_FALSE(letter(shown));
    }
    // The emoji libvterm makes two columns wide, the C library one.
    EXPECT_EQ(tarvik_vt_cell(vt.get(), 0, 0).width, 2);
    EXPECT_FALSE(letter(screen.terminal().cell(0, 0).text));
    EXPECT_FALSE(letter(screen.terminal().cell(0, 1).text));
    delwin(win);
}

// Bidi embeddings, overrides, isolates and marks, the Arabic letter mark, joiners and a variation
// selector, as characters of their own and after letters: none reaches the terminal, the letters do.
TEST(DrawText, FormatCharactersNeverReachTheTerminal)
{
    const char *format[] = {"\u202a", "\u202b", "\u202c", "\u202d", "\u202e", "\u200e", "\u200f", "\u2066",
                            "\u2067", "\u2068", "\u2069", "\u061c", "\u200b", "\u200d", "\ufe0f", "\u2028"};
    CursesScreen screen(6, 60);
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(4, 60));
    WINDOW *win = newwin(4, 60, 0, 0);
    std::string bytes = "start";
    for (const char *f : format) bytes += std::string(f) + "x";
    vt_feed_output(vt.get(), bytes + "\r\nend\u202e");
    draw_and_show(vt.get(), win, screen);
    std::string text = screen.terminal().all_text();
    for (size_t i = 0; i < std::size(format); ++i) EXPECT_EQ(text.find(format[i]), std::string::npos) << i;
    EXPECT_EQ(std::count(text.begin(), text.end(), 'x'), 16) << text;
    EXPECT_EQ(text.rfind("start", 0), 0u) << text;
    EXPECT_NE(text.find("end"), std::string::npos) << text;
    delwin(win);
}

// Under LANG=C nothing but ASCII can be drawn: every other character shows as "?" in each of its
// columns, rather than as blanks that hide that anything is there.
TEST(DrawText, WhatTheLocaleCannotShowIsAQuestionMarkInEachColumn)
{
    CursesScreen screen(6, 30);
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(4, 20));
    WINDOW *win = newwin(4, 20, 0, 0);
    vt_feed_output(vt.get(), "caf\u00e9 \u20ac \u65e5\u672c\u8a9ez");
    {
        LocaleScope c_locale("C");
        tarvik_vt_draw(vt.get(), win, 0, 0);
    }
    EXPECT_EQ(window_row(win, 0), "caf? ? ??????z      ");
    delwin(win);
}

// The emoji selector goes with a character two columns wide, which it cannot widen; after a narrow
// one it stays out, as do joiners, which some terminals join emoji at (fewer columns than the screen's).
TEST(DrawText, EmojiSelectorOnlyAfterAWideCharacter)
{
    CursesScreen screen(6, 30);
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(2, 20));
    WINDOW *win = newwin(2, 20, 0, 0);
    vt_feed_output(vt.get(), "\u2764\ufe0f|\U0001f600\ufe0f|\U0001f468\u200d\U0001f469|");
    draw_and_show(vt.get(), win, screen);
    EXPECT_EQ(window_cell(win, 0, 0).text, "\u2764");
    EXPECT_EQ(window_cell(win, 0, 2).text, "\U0001f600\ufe0f");
    EXPECT_EQ(window_cell(win, 0, 5).text, "\U0001f468");
    EXPECT_EQ(window_cell(win, 0, 7).text, "\U0001f469");
    EXPECT_EQ(window_cell(win, 0, 9).text, "|");
    delwin(win);
}

// Strike-through, overline and double underline reach the terminal over curses' update where its
// description has them, go when the cells lose them, and never land on what was drawn over the cells.
TEST(DrawText, StrikeAndDoubleUnderlineAreDrawnOverCursesUpdate)
{
    CursesScreen screen(6, 30, "tmux-256color");
    start_color();
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(2, 20));
    WINDOW *win = newwin(2, 20, 0, 0);
    auto show = [&](const std::string &bytes, WINDOW *over) {
        vt_feed_output(vt.get(), bytes);
        tarvik_vt_draw(vt.get(), win, 0, 0);
        wnoutrefresh(win);
        if (over) wnoutrefresh(over);
        tarvik_update(screen.output());
        screen.settle(150);
    };
    const ScreenReader &t = screen.terminal();
    show("a\033[9mstruck\033[29m \033[21;31mtwo\033[0m b", nullptr);
    EXPECT_FALSE(t.cell(0, 0).strike);
    for (int col = 1; col <= 6; ++col) EXPECT_TRUE(t.cell(0, col).strike) << "column " << col;
    EXPECT_FALSE(t.cell(0, 7).strike);
    EXPECT_EQ(t.cell(0, 8).underline, 2);
    EXPECT_EQ(t.cell(0, 8).fg, COLOR_RED);
    EXPECT_EQ(t.row_text(0).substr(0, 13), "astruck two b");
    EXPECT_EQ(t.cursor_row(), 0);
    EXPECT_EQ(t.cursor_col(), 13);
    // The same letters without the line, and a window drawn over part of them: curses writes neither
    // the unchanged letters nor the covered ones, the window shows as drawn.
    WINDOW *popup = newwin(1, 2, 0, 4);
    mvwaddstr(popup, 0, 0, "XY");
    show("\033[1;2Hst\033[9mr", popup);
    EXPECT_FALSE(t.cell(0, 1).strike);
    EXPECT_FALSE(t.cell(0, 2).strike);
    EXPECT_TRUE(t.cell(0, 3).strike);
    EXPECT_EQ(t.row_text(0).substr(0, 7), "astrXYk");
    EXPECT_FALSE(t.cell(0, 4).strike);
    EXPECT_TRUE(t.cell(0, 6).strike);
    delwin(popup);
    delwin(win);
}

} // namespace
