// The panel geometry, the frame and the key-help bar, drawn by real curses on pseudo-terminals of the
// sizes users have.
#include <sys/wait.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/window.h"
#include "support/curses_screen.h"
#include "support/pty_process.h"
#include "term/tarvik.h"

namespace {

struct Rect {
    int top, left, rows, cols;
    bool operator==(const Rect &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Rect &r)
{
    return os << r.rows << "x" << r.cols << " at " << r.top << "," << r.left;
}

Rect rect_of(WINDOW *win)
{
    return {getbegy(win), getbegx(win), getmaxy(win), getmaxx(win)};
}

// A cell of the standard screen: its character (line-drawing ones keep their alternate-set flag), its
// other attributes and its colour pair.
struct Cell {
    chtype ch;
    attr_t attrs;
    int pair;
    bool operator==(const Cell &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Cell &c)
{
    chtype text = c.ch & A_CHARTEXT;
    os << ((c.ch & A_ALTCHARSET) ? "acs '" : "'") << static_cast<char>(text) << "' pair " << c.pair;
    if (c.attrs & A_BOLD) os << " bold";
    return os;
}

Cell cell_at(int row, int col)
{
    chtype c = mvwinch(stdscr, row, col);
    return {c & (A_CHARTEXT | A_ALTCHARSET), c & A_ATTRIBUTES & ~(A_ALTCHARSET | A_COLOR), PAIR_NUMBER(c)};
}

Cell frame(chtype ch)
{
    return {ch & (A_CHARTEXT | A_ALTCHARSET), A_BOLD, tarvik_color_pair(COLOR_BLUE, 0)};
}

// The bar as a user reads it: text and the bold colour on blue it is written in.
std::vector<Cell> expected_bar(int cols)
{
    const struct {
        const char *text;
        int fg;
    } segments[] = {
        {"Quillor v" QUILLOR_VERSION "  ", COLOR_WHITE},
        {"F1", COLOR_WHITE},
        {":menu  ", COLOR_WHITE},
        {"F2/3", COLOR_CYAN},
        {":sel  ", COLOR_WHITE},
        {"F4", COLOR_YELLOW},
        {":tag  ", COLOR_WHITE},
        {"F5", COLOR_GREEN},
        {":add  ", COLOR_WHITE},
        {"F6", COLOR_RED},
        {":del  ", COLOR_WHITE},
        {"F7", COLOR_MAGENTA},
        {":mcast", COLOR_WHITE},
    };
    std::vector<Cell> bar;
    for (const auto &s : segments)
        for (const char *p = s.text; *p; ++p)
            bar.push_back({static_cast<chtype>(*p), A_BOLD, tarvik_color_pair(s.fg, COLOR_BLUE)});
    EXPECT_EQ(bar.size(), 67u);
    while (static_cast<int>(bar.size()) < cols)
        bar.push_back({' ', A_BOLD, tarvik_color_pair(COLOR_WHITE, COLOR_BLUE)});
    return bar;
}

struct Geometry {
    int rows, cols, list_width, term_width;
    int term_x, term_cols;
    Rect summary; // rows 0: no summary window
};

const Geometry kShapes[] = {
    {25, 80, 8, 80, 11, 69, {}},
    {40, 132, 8, 80, 52, 80, {1, 10, 37, 41}},
    // Two columns of room make no summary window: they stay blank.
    {25, 93, 8, 80, 13, 80, {}},
    {25, 94, 8, 80, 14, 80, {1, 10, 22, 3}},
    {25, 132, 8, 100, 32, 100, {1, 10, 22, 21}},
    {25, 80, 20, 80, 23, 57, {}},
    // The list keeps its width; the terminal gets one column less than asked for.
    {25, 100, 8, 90, 11, 89, {}},
    {25, 90, 8, 80, 11, 79, {}},
    {25, 91, 8, 80, 11, 80, {}},
    {25, 171, 8, 80, 91, 80, {1, 10, 22, 80}},
    {25, 172, 8, 80, 92, 80, {1, 10, 22, 81}},
    // The widest list this screen allows leaves the terminal one column.
    {25, 80, 76, 80, 79, 1, {}},
    // "[Terminal]" does not fit beside a wide list: it is cut, not wrapped onto the panels.
    {25, 100, 90, 80, 93, 7, {}},
};

std::string shape_name(const Geometry &g)
{
    return std::to_string(g.cols) + "x" + std::to_string(g.rows) + " -W " + std::to_string(g.list_width) +
           " -T " + std::to_string(g.term_width);
}

// The windows, the frame and the bar as they must be for the shape, in curses' picture of the screen.
void expect_layout(const Geometry &g, LayoutSize size)
{
    int panel_rows = g.rows - 3;
    int sep_x = g.term_x - 1;

    EXPECT_EQ(size.rows, panel_rows);
    EXPECT_EQ(size.cols, g.term_cols);
    EXPECT_EQ(rect_of(layout_list_window()), (Rect{1, 0, panel_rows, g.list_width + 2}));
    EXPECT_EQ(rect_of(layout_terminal_window()), (Rect{1, g.term_x, panel_rows, g.term_cols}));
    EXPECT_EQ(rect_of(layout_minibuf_window()), (Rect{g.rows - 1, 0, 1, g.cols}));
    if (g.summary.rows == 0) {
        EXPECT_EQ(layout_summary_window(), nullptr);
    } else {
        ASSERT_NE(layout_summary_window(), nullptr);
        EXPECT_EQ(rect_of(layout_summary_window()), g.summary);
        EXPECT_TRUE(is_leaveok(layout_summary_window()));
    }
    // Only the terminal and the minibuffer may hold the visible cursor.
    EXPECT_TRUE(is_leaveok(layout_list_window()));
    EXPECT_FALSE(is_leaveok(layout_terminal_window()));
    EXPECT_FALSE(is_leaveok(layout_minibuf_window()));

    std::vector<Cell> top(g.cols, frame(ACS_HLINE));
    top[sep_x] = frame(ACS_TTEE);
    if (g.cols > 90) {
        auto caption = [&](int col, const std::string &text) {
            for (size_t i = 0; i < text.size() && col + static_cast<int>(i) < g.cols; ++i)
                top[col + i] = frame(static_cast<chtype>(text[i]));
        };
        caption(2, "[Machines]");
        caption(sep_x + 2, "[Terminal]");
    }
    for (int col = 0; col < g.cols; ++col) EXPECT_EQ(cell_at(0, col), top[col]) << "row 0, column " << col;

    // Between the frame lines only the separator is drawn; no panel area carries anything.
    for (int row = 1; row <= g.rows - 3; ++row)
        for (int col = 0; col < g.cols; ++col) {
            Cell c = cell_at(row, col);
            if (col == sep_x) {
                EXPECT_EQ(c, frame(ACS_VLINE)) << "row " << row;
            } else {
                EXPECT_EQ(c.ch, static_cast<chtype>(' ')) << "row " << row << ", column " << col;
            }
        }

    std::vector<Cell> bar = expected_bar(g.cols);
    for (int col = 0; col < g.cols; ++col)
        EXPECT_EQ(cell_at(g.rows - 2, col), bar[col]) << "bar column " << col;
}

TEST(Layout, PanelsFrameAndBarForEveryScreenShape)
{
    for (const Geometry &g : kShapes) {
        SCOPED_TRACE(shape_name(g));
        CursesScreen scr(g.rows, g.cols);
        start_color();
        tarvik_colors_init();
        expect_layout(g, layout_create(g.list_width, g.term_width));
    }
}

// A screen that changes size is laid out as a screen of that size is at start-up, in the same windows
// (dialogs hold them while open). Smaller than 80 x 25, or too narrow for the list, it is refused, and
// laid out again once it has the room.
TEST(Layout, NewSizeGetsTheStartUpLayoutInTheSameWindows)
{
    for (const Geometry &g : kShapes) {
        SCOPED_TRACE(shape_name(g));
        CursesScreen scr(30, 120);
        start_color();
        tarvik_colors_init();
        layout_create(g.list_width, g.term_width);
        WINDOW *const windows[] = {layout_list_window(), layout_terminal_window(), layout_minibuf_window()};
        LayoutSize size{};
        const std::pair<int, int> too_small[] = {{24, 200}, {60, 79}, {g.rows, g.list_width + 3}};
        for (const auto &[rows, cols] : too_small) {
            resize_term(rows, cols);
            EXPECT_FALSE(layout_resize(&size)) << cols << "x" << rows;
            EXPECT_FALSE(layout_fits());
        }
        resize_term(g.rows, g.cols);
        ASSERT_TRUE(layout_resize(&size));
        EXPECT_TRUE(layout_fits());
        EXPECT_EQ(layout_list_window(), windows[0]);
        EXPECT_EQ(layout_terminal_window(), windows[1]);
        EXPECT_EQ(layout_minibuf_window(), windows[2]);
        expect_layout(g, size);
    }
}

// What reaches the user's terminal: line-drawing characters and the bar's colours, with the captions
// following at the standard screen's next refresh; the same when a machine's default colours are the
// user's terminal's own, where only the terminal panel's blanks are in those.
TEST(Layout, FrameAndBarReachTheTerminal)
{
    for (bool defaults : {false, true}) {
        SCOPED_TRACE(defaults ? "with the user's default colours" : "without");
        CursesScreen scr(40, 132);
        start_color();
        tarvik_colors_init(defaults);
        window_set_background(stdscr);
        layout_create(8, 80);
        for (WINDOW *win : {layout_list_window(), layout_terminal_window()}) wnoutrefresh(win);
        doupdate();
        scr.settle(200);
        const ScreenReader &t = scr.terminal();
        EXPECT_EQ(t.cell(0, 0).text, "─");
        EXPECT_EQ(t.cell(0, 51).text, "┬");
        for (int row = 1; row <= 37; ++row) EXPECT_EQ(t.cell(row, 51).text, "│") << "row " << row;
        EXPECT_EQ(t.cell(38, 0).fg, COLOR_WHITE);
        EXPECT_EQ(t.cell(0, 0).fg, COLOR_BLUE);
        EXPECT_EQ(t.cell(0, 0).bg, COLOR_BLACK);
        EXPECT_TRUE(t.cell(0, 0).bold);
        EXPECT_EQ(t.row_text(38).substr(0, 67),
                  "Quillor v" QUILLOR_VERSION "  F1:menu  F2/3:sel  F4:tag  F5:add  F6:del  F7:mcast");
        const struct {
            int col, fg;
        } keys[] = {{16, COLOR_WHITE}, {25, COLOR_CYAN},    {35, COLOR_YELLOW}, {43, COLOR_GREEN},
                    {51, COLOR_RED},   {59, COLOR_MAGENTA}, {62, COLOR_WHITE},  {131, COLOR_WHITE}};
        for (auto k : keys) {
            ReadCell c = t.cell(38, k.col);
            EXPECT_EQ(c.fg, k.fg) << "column " << k.col;
            EXPECT_EQ(c.bg, COLOR_BLUE) << "column " << k.col;
            EXPECT_TRUE(c.bold) << "column " << k.col;
        }
        // The list's blanks are the program's black; the terminal panel's the machines' default.
        EXPECT_EQ(t.cell(5, 3).bg, COLOR_BLACK);
        EXPECT_EQ(t.cell(5, 80).bg, defaults ? -1 : COLOR_BLACK);

        wrefresh(stdscr);
        scr.settle(200);
        auto cells = [&](int col, int n) {
            std::string s;
            for (int i = 0; i < n; ++i) s += t.cell(0, col + i).text;
            return s;
        };
        EXPECT_EQ(cells(1, 12), "─[Machines]─");
        EXPECT_EQ(cells(52, 12), "─[Terminal]─");
    }
}

// A list width that leaves the terminal no column ends the program cleanly instead of making windows
// with no columns (or overflowing the arithmetic for absurd widths).
TEST(Layout, ListWidthWithoutRoomForTheTerminalIsRefused)
{
    struct Case {
        std::string width;
        bool fits;
        std::string says;
    };
    const Case cases[] = {
        {"76", true, "terminal 22 x 1"},
        {"77", false, "quillor: list width 77 leaves no room for the terminal on a 80-column screen.\r\n"},
        {"2147483647", false,
         "quillor: list width 2147483647 leaves no room for the terminal on a 80-column screen.\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        PtyProcess p({std::string(QUILLOR_TEST_BINARY_DIR) + "/screen_size_check", c.width}, 25, 80);
        ASSERT_TRUE(p.wait_for_text("Quillor v" QUILLOR_VERSION));
        p.send(" ");
        int status = p.wait_exit();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.fits ? 0 : 1);
        ASSERT_TRUE(p.wait_for_text("modes"));
        std::string out = p.output();
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_NE(out.find("modes restored"), std::string::npos);
        if (!c.fits) {
            EXPECT_LT(out.rfind("\033[?1049l"), out.find(c.says)) << "message on the alternate screen";
        }
    }
}

} // namespace
