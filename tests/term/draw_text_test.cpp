// What a drawn screen puts on the user's terminal: the emulated columns, whatever the C library thinks
// of a character's width, and never a character that could make the terminal reorder the line.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/vt_text.h"
#include "support/vt_window.h"
#include "term/tarvik.h"

namespace {

// Characters libvterm and the C library measure differently, written over a row of letters: each
// column of the window (curses' picture of the user's terminal) shows its emulated cell or a stand-in
// for it, and none of the letters underneath. (The terminal itself is read only where the reader, which
// is libvterm's own screen, keeps its columns: it widens a character that gets these marks.)
TEST(DrawText, WidthsThatDisagreeLeaveNoStaleGlyph)
{
    VtWindow s(4, 20, 6, 30);
    s.show("abcdefgh");
    ASSERT_EQ(s.curses.terminal().row_text(0).substr(0, 8), "abcdefgh");

    s.show("\r\xf0\x9f\xa4\xbb\xf0\x9f\xa5\x86\xe3\x82\x99\xe3\x82\x99\xe3\x80\xaa\n");
    auto letter = [](const std::string &s) { return s.size() == 1 && s[0] >= 'a' && s[0] <= 'h'; };
    for (int col = 0; col < 20; ++col) {
        TarvikCell cell = tarvik_vt_cell(s.vt.get(), 0, col);
        std::string shown = window_cell(s.win.get(), 0, col).text;
        SCOPED_TRACE("column " + std::to_string(col) + " shows \"" + shown + "\"");
        if (cell.ch >= 'a' && cell.ch <= 'h')
            EXPECT_EQ(shown, std::string(1, static_cast<char>(cell.ch)));
        else
            EXPECT_FALSE(letter(shown));
    }
    // The emoji libvterm makes two columns wide, the C library one.
    EXPECT_EQ(tarvik_vt_cell(s.vt.get(), 0, 0).width, 2);
    EXPECT_FALSE(letter(s.curses.terminal().cell(0, 0).text));
    EXPECT_FALSE(letter(s.curses.terminal().cell(0, 1).text));
}

// Bidi embeddings, overrides, isolates and marks, the Arabic letter mark, joiners and a variation
// selector, as characters of their own and after letters: none reaches the terminal, the letters do.
TEST(DrawText, FormatCharactersNeverReachTheTerminal)
{
    const char *format[] = {"\u202a", "\u202b", "\u202c", "\u202d", "\u202e", "\u200e", "\u200f", "\u2066",
                            "\u2067", "\u2068", "\u2069", "\u061c", "\u200b", "\u200d", "\ufe0f", "\u2028"};
    VtWindow s(4, 60, 6, 60);
    std::string bytes = "start";
    for (const char *f : format) bytes += std::string(f) + "x";
    s.show(bytes + "\r\nend\u202e");
    std::string text = s.curses.terminal().all_text();
    for (size_t i = 0; i < std::size(format); ++i) EXPECT_EQ(text.find(format[i]), std::string::npos) << i;
    EXPECT_EQ(std::count(text.begin(), text.end(), 'x'), 16) << text;
    EXPECT_EQ(text.rfind("start", 0), 0u) << text;
    EXPECT_NE(text.find("end"), std::string::npos) << text;
}

// Under LANG=C nothing but ASCII can be drawn: every other character shows as "?" in each of its
// columns, rather than as blanks that hide that anything is there.
TEST(DrawText, WhatTheLocaleCannotShowIsAQuestionMarkInEachColumn)
{
    VtWindow s(4, 20, 6, 30);
    vt_feed_output(s.vt.get(), "caf\u00e9 \u20ac \u65e5\u672c\u8a9ez");
    {
        LocaleScope c_locale("C");
        tarvik_vt_draw(s.vt.get(), s.win.get(), 0, 0);
    }
    EXPECT_EQ(window_row(s.win.get(), 0), "caf? ? ??????z      ");
}

// The emoji selector goes with a character two columns wide, which it cannot widen; after a narrow
// one it stays out, as do joiners, which some terminals join emoji at (fewer columns than the screen's).
TEST(DrawText, EmojiSelectorOnlyAfterAWideCharacter)
{
    VtWindow s(2, 20, 6, 30);
    s.show("\u2764\ufe0f|\U0001f600\ufe0f|\U0001f468\u200d\U0001f469|");
    EXPECT_EQ(window_cell(s.win.get(), 0, 0).text, "\u2764");
    EXPECT_EQ(window_cell(s.win.get(), 0, 2).text, "\U0001f600\ufe0f");
    EXPECT_EQ(window_cell(s.win.get(), 0, 5).text, "\U0001f468");
    EXPECT_EQ(window_cell(s.win.get(), 0, 7).text, "\U0001f469");
    EXPECT_EQ(window_cell(s.win.get(), 0, 9).text, "|");
}

// Strike-through, overline and double underline reach the terminal over curses' update where its
// description has them, go when the cells lose them, and never land on what was drawn over the cells.
TEST(DrawText, StrikeAndDoubleUnderlineAreDrawnOverCursesUpdate)
{
    VtWindow s(2, 20, 6, 30, "tmux-256color");
    const ScreenReader &t = s.curses.terminal();
    s.show("a\033[9mstruck\033[29m \033[21;31mtwo\033[0m b");
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
    WindowPtr popup = vt_window_new(1, 2, 0, 4);
    mvwaddstr(popup.get(), 0, 0, "XY");
    s.show("\033[1;2Hst\033[9mr", popup.get());
    EXPECT_FALSE(t.cell(0, 1).strike);
    EXPECT_FALSE(t.cell(0, 2).strike);
    EXPECT_TRUE(t.cell(0, 3).strike);
    EXPECT_EQ(t.row_text(0).substr(0, 7), "astrXYk");
    EXPECT_FALSE(t.cell(0, 4).strike);
    EXPECT_TRUE(t.cell(0, 6).strike);
}

} // namespace
