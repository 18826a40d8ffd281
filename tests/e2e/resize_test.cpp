// The user's window changing size under the running program: the layout follows, every machine's
// terminal takes the new panel size, a screen too small shows a notice, dialogs stay open, and a storm
// of sizes under load breaks nothing.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

namespace {

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The first cell where the two screens differ in text or colours; empty when they agree everywhere.
std::string first_difference(const ScreenReader &a, const ScreenReader &b)
{
    if (a.rows() != b.rows() || a.cols() != b.cols()) return "the sizes differ";
    for (int row = 0; row < a.rows(); ++row)
        for (int col = 0; col < a.cols(); ++col) {
            const ReadCell x = a.cell(row, col), y = b.cell(row, col);
            if (x.text != y.text || x.fg != y.fg || x.bg != y.bg || x.bold != y.bold)
                return "row " + std::to_string(row) + ", column " + std::to_string(col) + ": '" + x.text +
                       "' and '" + y.text + "'";
        }
    return {};
}

// The frame's separator, the key-help bar and the mode indicator where the session's size puts them
// (the machines' counts may stand left of it).
bool frame_in_place(const QuillorSession &q)
{
    const ScreenReader &s = q.screen();
    if (s.cell(0, q.sep_x()).text != "\u252c" || s.cell(q.rows() - 3, q.sep_x()).text != "\u2502")
        return false;
    const std::string bottom = q.minibuf_text();
    return s.row_text(q.rows() - 2).find("F7:mcast") != std::string::npos &&
           static_cast<int>(bottom.size()) == q.cols() && bottom.ends_with("  singlecast mode");
}

// True when the popup with this caption is `cols` wide and stands in the middle of the screen.
bool popup_centred(const ScreenReader &s, const std::string &caption, int cols)
{
    for (int top = 0; top < s.rows(); ++top)
        for (int left = 0; left + cols <= s.cols(); ++left) {
            if (s.cell(top, left).text != "\u250c" || screen_cells(s, top, left + 3, left + 11) != caption)
                continue;
            int bottom = top;
            while (bottom < s.rows() && s.cell(bottom, left).text != "\u2514") ++bottom;
            return s.cell(top, left + cols - 1).text == "\u2510" &&
                   top == (s.rows() - (bottom - top + 1)) / 2 && left == (s.cols() - cols) / 2;
        }
    return false;
}

// Logs into h<i> and waits for its shell's prompt; the list then shows `rows_after` machines.
void log_into(QuillorSession &q, int i, int rows_after)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    ASSERT_TRUE(q.add(sshd->add_name(i), rows_after)) << q.dump();
    ASSERT_TRUE(q.select(rows_after - 1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
}

// Runs `stty size` on the selected machine and waits for the size it reports.
bool remote_size_is(QuillorSession &q, int rows, int cols)
{
    q.send("clear; stty size\r");
    return q.terminal_shows(std::to_string(rows) + " " + std::to_string(cols));
}

// Each new size is laid out exactly as a fresh start at that size is, text and colours alike: the
// frame with its captions from 91 columns, the bar, the indicator, and no leftover of the old size.
TEST(E2eResize, EveryNewSizeLooksAsAtStartUp)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    const std::pair<int, int> sizes[] = {{40, 132}, {25, 93}, {25, 94}, {80, 250}, {25, 80}};
    for (const auto &[rows, cols] : sizes) {
        SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(rows));
        QuillorSession fresh({}, rows, cols);
        ASSERT_TRUE(fresh.skip_splash()) << fresh.dump();
        ASSERT_TRUE(fresh.wait_for([&](const ScreenReader &) { return frame_in_place(fresh); }))
            << fresh.dump();
        q.resize(rows, cols);
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return first_difference(s, fresh.screen()).empty();
        })) << first_difference(q.screen(), fresh.screen())
            << q.dump() << fresh.dump();
    }
}

// Live, dead and later machines alike take the terminal panel's size: the remote side learns it, the
// summary column comes with its room, and a dead machine's screen is still shown.
TEST(E2eResize, MachinesTakeTheTerminalPanelSize)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    log_into(q, 1, 1);
    log_into(q, 2, 2);
    q.send("echo GONE_$((40+2)); exit\r");
    ASSERT_TRUE(q.terminal_shows("GONE_42")) << q.dump();
    ASSERT_TRUE(q.select(0)) << q.dump();
    ASSERT_TRUE(remote_size_is(q, 22, 69)) << q.dump();

    q.resize(40, 132);
    ASSERT_TRUE(remote_size_is(q, 37, 80)) << q.dump();
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return screen_cells(s, 1, 10, 50).find("#") != std::string::npos;
    })) << "summary column"
        << q.dump();
    ASSERT_TRUE(q.select(1)) << q.dump();
    EXPECT_TRUE(q.terminal_shows("GONE_42")) << q.dump();

    q.resize(25, 90);
    ASSERT_TRUE(q.select(0)) << q.dump();
    EXPECT_TRUE(remote_size_is(q, 22, 79)) << q.dump();
    log_into(q, 3, 3);
    EXPECT_TRUE(remote_size_is(q, 22, 79)) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Under 80 x 25, or too narrow for the list given with -W, the screen says so; keys typed at the notice
// reach no machine, whose output is still taken in; with room again, everything is back.
TEST(E2eResize, TooSmallScreenShowsNoticeAndComesBack)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    log_into(q, 1, 1);
    q.send("sleep 1; echo LATE_$((3+3))\r");
    q.resize(20, 70);
    ASSERT_TRUE(q.wait_for_text("Terminal too small: 70 x 20")) << q.dump();
    EXPECT_TRUE(q.wait_for_text("quillor needs 80 x 25")) << q.dump();
    q.send("echo LOST_$((1+1))\r" + keys::F1);
    q.resize(25, 79);
    ASSERT_TRUE(q.wait_for_text("Terminal too small: 79 x 25")) << q.dump();
    pause_ms(1500);

    q.resize(25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return frame_in_place(q); })) << q.dump();
    EXPECT_TRUE(q.terminal_shows("LATE_6")) << q.dump();
    q.send("echo BACK_$((2+2))\r");
    EXPECT_TRUE(q.terminal_shows("BACK_4")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("LOST_2"), std::string::npos) << q.dump();
    EXPECT_EQ(q.screen().all_text().find("Select an option"), std::string::npos) << q.dump();

    QuillorSession wide({"-W", "90"}, 25, 100);
    ASSERT_TRUE(wide.skip_splash()) << wide.dump();
    wide.resize(25, 93);
    EXPECT_TRUE(wide.wait_for_text("quillor needs 94 x 25")) << wide.dump();
    wide.resize(25, 94);
    EXPECT_TRUE(wide.wait_for([&](const ScreenReader &s) {
        return s.cell(0, 92).text == "\u252c" && s.row_text(23).find("F7:mcast") != std::string::npos;
    })) << wide.dump();
}

// A prompt keeps its text and cursor on the new bottom line, through a too-small screen too; the menu
// and the help popup are centred again, the help refitted to the new height.
TEST(E2eResize, DialogsStayOpenAcrossNewSizes)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Add: ", 0) == 0; }));
    q.send("web");
    ASSERT_TRUE(
        q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Add: web ", 0) == 0; }));
    q.resize(40, 132);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return q.minibuf_text().rfind("Add: web ", 0) == 0 && s.cursor_row() == 39 && s.cursor_col() == 8;
    })) << q.dump();
    q.resize(20, 60);
    ASSERT_TRUE(q.wait_for_text("Terminal too small: 60 x 20")) << q.dump();
    q.send("zz");
    pause_ms(300);
    q.resize(25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return q.minibuf_text().rfind("Add: web ", 0) == 0 && s.cursor_row() == 24 && s.cursor_col() == 8;
    })) << q.dump();
    q.send(keys::Escape);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return frame_in_place(q); })) << q.dump();

    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    q.resize(40, 132);
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return popup_centred(s, "[ Menu ]", 45) &&
               s.all_text().find("Select an option: ") != std::string::npos;
    })) << q.dump();
    q.send("h");
    ASSERT_TRUE(q.wait_for_text("[ Help ]")) << q.dump();
    q.resize(30, 100);
    // As tall as the screen, its pages as long as the new size has room for.
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return popup_centred(s, "[ Help ]", 80) && screen_cells(s, 29, 13, 17) == "[ 1/";
    })) << q.dump();
    q.send("q");
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return frame_in_place(q) && s.all_text().find("Select an option") == std::string::npos;
    })) << q.dump();
}

// Two hundred sizes in about two seconds, between 80 x 25 and 250 x 80, while two machines print
// without pause and the selected one runs a full-screen program on the alternate screen that redraws
// at each size: no sanitizer report, and at the end the picture of the last size, the program's own
// screen redrawn at the panel's size included.
TEST(E2eResize, StormOfSizesUnderLoad)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    for (int i = 1; i <= 2; ++i) {
        log_into(q, i, i);
        q.send("yes FLOOD_" + std::to_string(i) + "\r");
    }
    log_into(q, 3, 3);
    q.send("printf '\\033[?1049h'; trap 'printf \"\\033[?1049l\"' EXIT; "
           "while :; do printf '\\033[H\\033[2JPANEL %s' \"$(stty size)\"; sleep 0.05; done\r");
    ASSERT_TRUE(q.terminal_shows("PANEL 22 69")) << q.dump();

    uint32_t seed = 12345;
    auto next = [&](int lo, int hi) {
        seed = seed * 1103515245u + 12345u;
        return lo + static_cast<int>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        const int rows = next(25, 80);
        q.resize(rows, next(80, 250));
        pause_ms(10);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    q.resize(40, 132);
    std::printf("200 sizes in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    EXPECT_TRUE(q.wait_for(
        [&](const ScreenReader &) {
            std::string shown;
            for (int row = 1; row <= 37; ++row) shown += screen_cells(q.screen(), row, 52, 132);
            return frame_in_place(q) && shown == "PANEL 37 80" + std::string(37 * 80 - 11, ' ') &&
                   q.list_count() == 3;
        },
        20000))
        << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
