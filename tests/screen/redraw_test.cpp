// The panels as drawn into real curses windows, cell by cell.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/list.h"
#include "screen/redraw.h"
#include "screen/summary.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

class Panels : public ::testing::Test {
protected:
    explicit Panels(const char *term = "xterm-256color") : screen_(25, 80, term) {}
    void SetUp() override
    {
        start_color();
        tarvik_colors_init();
    }
    void TearDown() override
    {
        mlist_delete_all();
        for (WINDOW *w : windows_) delwin(w);
        reap_children(1000);
    }
    WINDOW *window(int rows, int cols, int y, int x)
    {
        windows_.push_back(newwin(rows, cols, y, x));
        return windows_.back();
    }
    // Gives machine i a terminal of rows x cols whose child prints `output` and then waits.
    void show_output(int i, int rows, int cols, const std::string &output)
    {
        Machine *m = mlist_machine(i);
        scripts_.emplace_back(std::make_unique<Script>("printf '" + output + "'; exec sleep 30"));
        m->term.reset(tarvik_vt_create(rows, cols));
        m->pid = tarvik_vt_forkpty(m->term.get(), scripts_.back()->path.c_str());
    }
    void settle_terminals(const std::function<bool()> &done)
    {
        for (int i = 0; i < 500 && !done(); ++i) {
            mlist_update();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    CursesScreen screen_;
    std::vector<WINDOW *> windows_;
    std::vector<std::unique_ptr<Script>> scripts_;
};

TEST_F(Panels, ListRowsShowTagLifeAndSelectionInTheirColours)
{
    WINDOW *list = window(10, 10, 1, 0); // W = 8
    mlist_init(list, 5, 20);
    // Machines 0-3: untagged live, untagged dead, tagged live, tagged dead; then the same, selected.
    struct Row {
        bool tagged, alive;
        int attribute;
    };
    const Row rows[] = {{false, true, 0x70}, {false, false, 0x80}, {true, true, 0xA0}, {true, false, 0x20}};
    for (int i = 0; i < 4; ++i) mlist_add("-V m" + std::to_string(i));
    for (int i = 0; i < 4; ++i) {
        mlist_machine(i)->tagged = rows[i].tagged;
        mlist_machine(i)->alive = rows[i].alive;
    }
    for (int selected = 0; selected < 4; ++selected) {
        while (mlist_selected() < selected) mlist_select_next();
        list_draw(mlist_window());
        for (int i = 0; i < 4; ++i) {
            int attr = rows[i].attribute | (i == selected ? 0x01 : 0);
            int pair = tarvik_color_pair((attr >> 4) & 7, attr & 7);
            bool bold = attr & 0x80;
            SCOPED_TRACE("row " + std::to_string(i) + " selected " + std::to_string(selected));
            EXPECT_EQ(window_cell(list, i, 0).text, rows[i].tagged ? "*" : " ");
            // The bar covers the mark and the 8 name columns; the last column is plain background.
            for (int col = 0; col < 9; ++col) {
                WindowCell c = window_cell(list, i, col);
                EXPECT_EQ(c.pair, pair) << "col " << col;
                EXPECT_EQ((c.attrs & A_BOLD) != 0, bold) << "col " << col;
            }
            WindowCell last = window_cell(list, i, 9);
            EXPECT_EQ(last.pair, 0);
            EXPECT_EQ(last.attrs & A_BOLD, 0u);
            EXPECT_EQ(window_row(list, i),
                      std::string(rows[i].tagged ? "*" : " ") + "-V m" + std::to_string(i) + "    ");
        }
    }
}

// A terminal without colours: a vt100, with bold, underline and reverse video.
class PlainPanels : public Panels {
protected:
    PlainPanels() : Panels("vt100") {}
};

// Without colours the selected row is in reverse video, tagged rows are bold and dead ones underlined,
// on the terminal itself: a dead machine never looks tagged, nor the selection like any other row.
TEST_F(PlainPanels, ListRowsShowSelectionTagAndLifeWithoutColours)
{
    WINDOW *list = window(10, 10, 1, 0);
    mlist_init(list, 5, 20);
    for (int i = 0; i < 4; ++i) {
        mlist_add("-V m" + std::to_string(i));
        mlist_machine(i)->tagged = i & 1;
        mlist_machine(i)->alive = !(i & 2);
    }
    list_draw(mlist_window());
    wrefresh(list);
    screen_.settle();
    for (int i = 0; i < 4; ++i) {
        ReadCell c = screen_.terminal().cell(1 + i, 0);
        EXPECT_EQ(c.text, i & 1 ? "*" : " ") << i;
        EXPECT_EQ(c.reverse, i == 0) << i;
        EXPECT_EQ(c.bold, (i & 1) != 0) << i;
        EXPECT_EQ(c.underline, (i & 2) != 0) << i;
    }
}

// Under LANG=C a name shows "?" for each byte the locale cannot read, the summary for each column of a
// character it cannot show: never blanks that hide that something is there.
TEST_F(Panels, NamesAndSummaryShowWhatTheLocaleCannotAsQuestionMarks)
{
    WINDOW *list = window(4, 10, 1, 0);
    WINDOW *summary = window(4, 16, 1, 10);
    mlist_init(list, 5, 20);
    mlist_add("-V caf\u00e9");
    show_output(0, 5, 80, "\\n\u00e9 \u20ac \u65e5\u672cz");
    settle_terminals([&] { return tarvik_vt_cursor_col(mlist_machine(0)->term.get()) >= 9; });
    {
        LocaleScope c_locale("C");
        list_draw(mlist_window());
        summary_draw(summary);
    }
    EXPECT_EQ(window_row(list, 0), " -V caf?? ");
    EXPECT_EQ(window_row(summary, 0), "     ? ? ????z  ");
}

TEST_F(Panels, NamesAreCutAndPaddedByDisplayColumns)
{
    WINDOW *list = window(4, 10, 1, 0);
    mlist_init(list, 5, 20);
    mlist_add("-V averyverylongname");
    mlist_add("-V 中文字");
    list_draw(mlist_window());
    EXPECT_EQ(window_row(list, 0), " -V avery ");
    // Two wide characters fill 4 of the 8 columns after "-V ", the third would not fit: one blank.
    EXPECT_EQ(window_row(list, 1), " -V 中文  ");
}

// A name or a machine's output holding bidi controls and other format characters: the list and the
// summary show the rest, never those (they could reorder the row on the user's terminal).
TEST_F(Panels, NamesAndSummaryLeaveOutFormatCharacters)
{
    WINDOW *list = window(4, 10, 1, 0);
    WINDOW *summary = window(4, 16, 1, 10);
    mlist_init(list, 5, 20);
    mlist_add("-V a\u202eb\u2066c");
    show_output(0, 5, 80, "\\n$ x\342\200\256y\342\201\246z\342\200\217 ");
    settle_terminals([&] { return tarvik_vt_cursor_col(mlist_machine(0)->term.get()) >= 6; });
    list_draw(mlist_window());
    summary_draw(summary);
    EXPECT_EQ(window_row(list, 0), " -V abc   ");
    std::string line = window_row(summary, 0);
    for (const char *f : {"\u202e", "\u2066", "\u200f"}) EXPECT_EQ(line.find(f), std::string::npos) << line;
    EXPECT_NE(line.find("$ x"), std::string::npos) << line;
}

TEST_F(Panels, SummaryReadsBackwardsFromTheCursorJoiningRows)
{
    WINDOW *summary = window(5, 16, 1, 10);
    mlist_init(window(5, 10, 1, 0), 5, 20);
    mlist_add("-V a");
    show_output(0, 5, 80, "top\\r\\n$ ls\\r\\na  b\\r\\n$ ");
    settle_terminals([&] { return tarvik_vt_cursor_row(mlist_machine(0)->term.get()) == 3; });
    summary_draw(summary);
    EXPECT_EQ(window_row(summary, 0), "  $ ls a  b $   ");
    WindowCell c = window_cell(summary, 0, 2);
    EXPECT_EQ(c.pair, tarvik_color_pair(0, 0));
    EXPECT_TRUE(c.attrs & A_BOLD);
}

TEST_F(Panels, SummaryEdgeCases)
{
    WINDOW *summary = window(5, 3, 1, 10);
    WINDOW *wide = window(5, 100, 1, 14);
    mlist_init(window(5, 10, 1, 0), 5, 20);
    mlist_add("-V row0");
    mlist_add("-V row1");
    mlist_add("-V ctl");
    show_output(0, 5, 80, "on row zero");
    show_output(1, 5, 80, "top\\r\\n");
    show_output(2, 5, 120, "x\\r\\nab\\344\\270\\255c");
    settle_terminals([&] { return tarvik_vt_cursor_col(mlist_machine(2)->term.get()) == 5; });
    summary_draw(summary);
    // A 3-column window shows two characters: the cursor cell and the one before it.
    EXPECT_EQ(window_row(summary, 0), "   "); // cursor on row 0: nothing is read
    EXPECT_EQ(window_row(summary, 1), "   "); // cursor at (1, 0): that cell, a blank
    EXPECT_EQ(window_row(summary, 2), "c  ");
    // A window wider than 80 columns gets lines as wide as itself.
    summary_draw(wide);
    std::string line = window_row(wide, 2);
    EXPECT_EQ(line.substr(line.size() - 10), "  ab中c  ");
}

TEST_F(Panels, TerminalPanelIsBlankWithoutAMachineAndShowsTheSelectedOne)
{
    WINDOW *term = window(5, 30, 1, 40);
    mlist_init(window(5, 10, 1, 0), 5, 30);
    mvwaddstr(term, 2, 2, "stale");
    redraw_terminal(term);
    for (int r = 0; r < 5; ++r) EXPECT_EQ(window_row(term, r), std::string(30, ' '));
    mlist_add("-V a");
    mlist_add("-V b");
    show_output(0, 5, 30, "first machine");
    show_output(1, 5, 30, "second\\r\\nmachine");
    settle_terminals([&] { return tarvik_vt_cursor_row(mlist_machine(1)->term.get()) == 1; });
    mlist_select_next();
    redraw_terminal(term);
    int y, x;
    getyx(term, y, x);
    EXPECT_EQ(y, 1);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(window_row(term, 0).substr(0, 6), "second");
}

TEST_F(Panels, IndicatorSitsAtTheRightEndAndLeavesTheCursorOnTheTerminal)
{
    LayoutSize size = layout_create(8, 80);
    mlist_init(layout_list_window(), size.rows, size.cols);
    mlist_add("-V a");
    show_output(0, size.rows, size.cols, "prompt$ ");
    settle_terminals([&] { return tarvik_vt_cursor_col(mlist_machine(0)->term.get()) == 8; });
    redraw(true);
    screen_.settle(200);
    EXPECT_EQ(screen_.terminal().row_text(24).substr(65), "singlecast mode");
    EXPECT_EQ(screen_.terminal().cell(24, 65).fg, COLOR_BLUE);
    // The visible cursor is on the machine's cursor: terminal panel at row 1, column 11.
    EXPECT_EQ(screen_.terminal().cursor_row(), 1);
    EXPECT_EQ(screen_.terminal().cursor_col(), 11 + 8);
    mlist_toggle_multicast();
    redraw(false);
    screen_.settle(200);
    EXPECT_EQ(screen_.terminal().row_text(24).substr(58), "!!! MULTICAST MODE !!!");
    ReadCell c = screen_.terminal().cell(24, 58);
    EXPECT_TRUE(c.bold);
    EXPECT_TRUE(c.blink);
    EXPECT_EQ(c.bg, COLOR_RED);
    EXPECT_EQ(screen_.terminal().cursor_col(), 11 + 8);
    mlist_toggle_multicast();
}

} // namespace
