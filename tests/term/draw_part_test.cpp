// A part of a screen painted into a smaller window, as the wall's tiles show their machines: the
// screen itself keeps its size, a wide character an edge cuts is a blank, and the cursor is placed only
// where the part shows it.
#include <curses.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/vt_text.h"
#include "support/vt_window.h"
#include "term/tarvik.h"

namespace {

TEST(DrawPart, PaintsTheCroppedRowsAndColumnsAndCutsWideCharactersAsBlanks)
{
    VtWindow s(6, 20, 12, 40);
    TarvikVt *vt = s.vt.get();
    // Row 1 has wide characters on columns 4-5 and 8-9, which the edges of the parts below cut.
    vt_feed_output(vt, "row0\r\nabcd\xe4\xb8\xadxy\xe4\xb8\xadz\r\nrow2\r\n\r\nrow4");
    s.win = vt_window_new(10, 30, 0, 0); // larger than the screen, so that parts reach past its edges
    WINDOW *win = s.win.get();
    struct Case {
        int top, left, rows, cols;
        const char *rows_text[4];
        bool cursor; // the emulated cursor (row 4, column 4) is in the part
    } cases[] = {
        {1, 0, 2, 5, {"abcd ", "row2 "}, false},
        {1, 5, 2, 4, {" xy ", "    "}, false}, // a right half at the left edge, a left half at the right
        {1, 4, 1, 4, {"\xe4\xb8\xadxy"}, false},
        {2, 0, 3, 5, {"row2 ", "     ", "row4 "}, true},
        // Past the screen's last row and column: blank, and the screen keeps its own size.
        {4, 16, 4, 6, {"      ", "      ", "      ", "      "}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("part from row " + std::to_string(c.top) + ", column " + std::to_string(c.left));
        for (int r = 0; r < 10; ++r) mvwhline(win, r, 0, 'X', 30);
        wmove(win, 9, 29);
        bool shown = tarvik_vt_draw_part(vt, win, 2, 3, c.rows, c.cols, c.top, c.left);
        EXPECT_EQ(shown, c.cursor);
        const std::pair<int, int> cursor =
            shown ? std::pair(2 + 4 - c.top, 3 + 4 - c.left) : std::pair(9, 29);
        EXPECT_EQ(std::pair(getcury(win), getcurx(win)), cursor);
        for (int r = 0; r < c.rows; ++r) {
            std::string row = window_row(win, 2 + r);
            // Nothing outside the part was written.
            EXPECT_EQ(row.substr(0, 3), "XXX");
            std::string part = row.substr(3);
            EXPECT_EQ(part.substr(0, std::string(c.rows_text[r]).size()), c.rows_text[r]) << r;
        }
        EXPECT_EQ(window_row(win, 2 + c.rows), std::string(30, 'X'));
    }
    EXPECT_EQ(tarvik_vt_rows(vt), 6);
    EXPECT_EQ(tarvik_vt_cols(vt), 20);
}

// A part painted somewhere else takes nothing from the whole screen's drawing: after it, the window the
// screen was drawn into whole is painted whole again, not only the rows that changed.
TEST(DrawPart, LeavesTheWholeDrawingComplete)
{
    VtWindow s(4, 20, 12, 40);
    TarvikVt *vt = s.vt.get();
    WINDOW *whole = s.win.get();
    WindowPtr part_owner = vt_window_new(2, 10, 6, 0);
    WINDOW *part = part_owner.get();
    vt_feed_output(vt, "one\r\ntwo");
    tarvik_vt_draw(vt, whole, 0, 0);
    wnoutrefresh(whole);
    mvwaddstr(whole, 0, 0, "zzz"); // as if curses' picture lost the row, without the window knowing
    wnoutrefresh(whole);
    vt_feed_output(vt, "\r\nthree");
    tarvik_vt_draw_part(vt, part, 0, 0, 2, 10, 1, 0);
    EXPECT_EQ(window_row(part, 0).substr(0, 5), "two  ");
    EXPECT_EQ(window_row(part, 1).substr(0, 5), "three");
    tarvik_vt_draw(vt, whole, 0, 0);
    EXPECT_EQ(window_row(whole, 0).substr(0, 3), "one");
    EXPECT_EQ(window_row(whole, 2).substr(0, 5), "three");
}

} // namespace
