// Curses set-up on real pseudo-terminals: the modes the main loop relies on, the function-key table, the
// splash and the size check, the last in a real process so that its exit can be watched.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "screen/screen.h"
#include "support/curses_screen.h"
#include "support/pty_process.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kTitle = "Quillor v" QUILLOR_VERSION;

long long elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// What the splash showed while it waited, read from the physical terminal.
struct Splash {
    bool seen = false;
    int title_row = -1, title_col = -1;
    ReadCell title_cell;
    std::string credit;
    int credit_col = -1;
    ReadCell credit_cell;
};

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \n") - b + 1);
}

// Runs screen_setup on the screen; once the splash shows, records it and types `keys` (none: no key).
Splash setup_through_splash(CursesScreen &scr, const std::string &keys)
{
    Splash seen;
    std::thread typist([&] {
        auto end = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < end) {
            const ScreenReader &t = scr.terminal();
            for (int r = 0; r < t.rows() && !seen.seen; ++r) {
                size_t col = t.row_text(r).find(kTitle);
                if (col == std::string::npos) continue;
                // Title and credit come in one refresh, but the reader may have taken in only the
                // title's part of it so far: the splash is complete once the line below shows too.
                if (r + 1 < t.rows() && trim(t.row_text(r + 1)).empty()) break;
                seen.seen = true;
                seen.title_row = r;
                seen.title_col = static_cast<int>(col);
                seen.title_cell = t.cell(r, seen.title_col);
                if (r + 1 < t.rows()) {
                    std::string line = t.row_text(r + 1);
                    seen.credit = trim(line);
                    seen.credit_col = static_cast<int>(line.find_first_not_of(' '));
                    if (seen.credit_col >= 0) seen.credit_cell = t.cell(r + 1, seen.credit_col);
                }
            }
            if (seen.seen) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (seen.seen && !keys.empty()) scr.type(keys);
    });
    screen_setup();
    typist.join();
    return seen;
}

// Reads n keys, allowing each a few time-outs for its bytes to arrive.
std::vector<int> read_keys(size_t n)
{
    std::vector<int> got;
    for (int tries = 0; got.size() < n && tries < 10; ++tries) {
        int ch = wgetch(stdscr);
        if (ch != ERR) got.push_back(ch);
    }
    return got;
}

TEST(ScreenSetup, SplashIsCentredAndTheKeyThatEndsItIsSwallowed)
{
    struct Case {
        int rows, cols, title_row, title_col;
    };
    for (Case c : {Case{25, 80, 12, 33}, Case{40, 132, 20, 59}}) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        CursesScreen scr(c.rows, c.cols);
        auto start = Clock::now();
        // Two keys at once: the splash may take only the first.
        Splash s = setup_through_splash(scr, "xy");
        EXPECT_LT(elapsed_ms(start), 2000) << "the key did not end the splash";
        ASSERT_TRUE(s.seen);
        EXPECT_EQ(s.title_row, c.title_row);
        EXPECT_EQ(s.title_col, c.title_col);
        EXPECT_EQ(s.title_cell.fg, COLOR_BLUE);
        EXPECT_EQ(s.title_cell.bg, COLOR_BLACK);
        EXPECT_FALSE(s.title_cell.bold);

        EXPECT_FALSE(s.credit.empty());
        EXPECT_EQ(s.credit_col, (c.cols - static_cast<int>(s.credit.size())) / 2);
        // Pair 0: the terminal's default colours, which curses may also spell out as white on black.
        EXPECT_TRUE(s.credit_cell.fg == -1 || s.credit_cell.fg == COLOR_WHITE) << s.credit_cell.fg;
        EXPECT_TRUE(s.credit_cell.bg == -1 || s.credit_cell.bg == COLOR_BLACK) << s.credit_cell.bg;
        EXPECT_FALSE(s.credit_cell.bold);

        EXPECT_EQ(read_keys(1), std::vector<int>{'y'});
        scr.settle();
        EXPECT_EQ(trim(scr.terminal().all_text()), "") << "the splash was not cleared";
    }
}

TEST(ScreenSetup, SplashWithoutAKeyGivesWayAfterElevenTimeouts)
{
    CursesScreen scr(25, 80);
    auto start = Clock::now();
    Splash s = setup_through_splash(scr, "");
    long long ms = elapsed_ms(start);
    ASSERT_TRUE(s.seen);
    EXPECT_GE(ms, 2100);
    EXPECT_LT(ms, 4000);
}

// Terminals send F1-F10 in different forms; curses' own description of the terminal knows at most one
// of them, so the rest arrive as function keys only through the table. Control keys must reach the
// machines instead of acting on the program.
TEST(ScreenSetup, FunctionKeysInEveryFormAndControlKeysArriveAsKeyCodes)
{
    struct Case {
        std::string bytes;
        std::vector<int> codes;
    };
    const std::vector<Case> cases = {
        {"\033OP", {265}},
        {"\033OQ", {266}},
        {"\033OR", {267}},
        {"\033OS", {268}},
        {"\033[11~", {265}},
        {"\033[12~", {266}},
        {"\033[13~", {267}},
        {"\033[14~", {268}},
        {"\033[15~", {269}},
        {"\033[17~", {270}},
        {"\033[18~", {271}},
        {"\033[19~", {272}},
        {"\033[20~", {273}},
        {"\033[21~", {274}},
        {"\033[224z", {265}},
        {"\033[225z", {266}},
        {"\033[226z", {267}},
        {"\033[227z", {268}},
        {"\033[228z", {269}},
        {"\033[229z", {270}},
        {"\033[230z", {271}},
        {"\033[231z", {272}},
        {"\033[232z", {273}},
        {"\033[233z", {274}},
        // No key is numbered 16: its sequence stays plain bytes.
        {"\033[16~", {27, '[', '1', '6', '~'}},
        {"\003", {3}},
        {"\032", {26}},
        {"\034", {28}},
        {"\023", {19}},
        {"\021", {17}},
    };
    for (const char *term : {"xterm-256color", "linux"}) {
        SCOPED_TRACE(term);
        CursesScreen scr(25, 80, term);
        ASSERT_TRUE(setup_through_splash(scr, " ").seen);
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.bytes));
            scr.type(c.bytes);
            EXPECT_EQ(read_keys(c.codes.size()), c.codes);
        }
    }
}

TEST(ScreenSetup, LoneEscapeArrivesPromptlyUnlessTheUserSetTheDelay)
{
    unsetenv("ESCDELAY");
    {
        CursesScreen scr(25, 80);
        set_escdelay(1000); // what curses starts with
        ASSERT_TRUE(setup_through_splash(scr, " ").seen);
        EXPECT_EQ(get_escdelay(), 25);
        auto start = Clock::now();
        scr.type("\033");
        EXPECT_EQ(read_keys(1), std::vector<int>{27});
        EXPECT_LT(elapsed_ms(start), 500);
    }
    setenv("ESCDELAY", "700", 1);
    {
        CursesScreen scr(25, 80);
        ASSERT_TRUE(setup_through_splash(scr, " ").seen);
        EXPECT_EQ(get_escdelay(), 700);
    }
    unsetenv("ESCDELAY");
}

TEST(ScreenSetup, ReadsDoNotWaitAndTypedKeysAreNotEchoed)
{
    CursesScreen scr(25, 80);
    ASSERT_TRUE(setup_through_splash(scr, " ").seen);
    // A read never waits: the program's one wait is a poll on the terminal, the machines and exits.
    auto start = Clock::now();
    EXPECT_EQ(wgetch(stdscr), ERR);
    EXPECT_LT(elapsed_ms(start), 150);

    scr.type("abc");
    EXPECT_EQ(read_keys(3), (std::vector<int>{'a', 'b', 'c'}));
    wrefresh(stdscr);
    scr.settle();
    EXPECT_EQ(trim(scr.terminal().all_text()), "");
}

// The size check runs in a process of its own: it ends curses and exits, and the user's terminal must
// be left as it was, with the message on the normal screen.
TEST(ScreenInit, RefusesScreensUnderEightyByTwentyFive)
{
    struct Case {
        int rows, cols;
        bool fits;
    };
    for (Case c : {Case{25, 79, false}, Case{24, 80, false}, Case{25, 80, true}, Case{24, 79, false}}) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        PtyProcess p({std::string(QUILLOR_TEST_BINARY_DIR) + "/screen_size_check"}, c.rows, c.cols);
        if (c.fits) {
            ASSERT_TRUE(p.wait_for_text(kTitle));
            p.send(" ");
        }
        int status = p.wait_exit();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.fits ? 0 : 1);
        ASSERT_TRUE(p.wait_for_text("modes"));
        std::string out = p.output();
        EXPECT_NE(out.find("modes restored"), std::string::npos) << out;
        const std::string message =
            "quillor: requires a 80 x 25 terminal to run.\r\nquillor: the terminal is " +
            std::to_string(c.cols) + " x " + std::to_string(c.rows) + "\r\n";
        size_t at = out.find(message);
        if (c.fits) {
            EXPECT_EQ(at, std::string::npos);
            continue;
        }
        ASSERT_NE(at, std::string::npos) << out;
        size_t left_alternate = out.rfind("\033[?1049l");
        if (out.find("\033[?1049h") != std::string::npos) {
            ASSERT_NE(left_alternate, std::string::npos);
            EXPECT_LT(left_alternate, at) << "the message went to the alternate screen";
        }
    }
}

} // namespace
