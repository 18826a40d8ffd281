// The terminal layer with real children on real pseudo-terminals and a real libvterm.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

std::string row_text(const TarvikVt *vt, int row)
{
    return vt_row_text(vt, row);
}

// Updates the terminal until the condition holds or 5 s pass.
bool pump_until(TarvikVt *vt, const std::function<bool()> &cond, int timeout_ms = 5000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        tarvik_vt_update(vt);
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool pump_until_text(TarvikVt *vt, const std::string &text)
{
    return pump_until(vt, [&] { return vt_screen_text(vt).find(text) != std::string::npos; });
}

TEST(TerminalLayer, OutputLandsInCellsAndMovesTheCursor)
{
    VtScript c(10, 40, "printf 'hello\\r\\nworld'; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(pump_until_text(vt, "world"));
    EXPECT_EQ(row_text(vt, 0), "hello");
    EXPECT_EQ(row_text(vt, 1), "world");
    EXPECT_EQ(tarvik_vt_cursor_row(vt), 1);
    EXPECT_EQ(tarvik_vt_cursor_col(vt), 5);
    EXPECT_TRUE(tarvik_vt_cursor_visible(vt));
}

TEST(TerminalLayer, ChildSeesTheScreenSizeAndTerm)
{
    VtScript c(13, 57, "stty size; echo TERM=$TERM; echo END; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_TRUE(pump_until_text(vt, "END"));
    std::string text = vt_screen_text(vt);
    EXPECT_NE(text.find("13 57"), std::string::npos) << text;
    EXPECT_NE(text.find("TERM=xterm-256color"), std::string::npos) << text;
}

TEST(TerminalLayer, ChildHoldsOnlyItsOwnTerminal)
{
    // Descriptors of the test's own and another machine's master that a careless fork would hand down.
    int leak = open("/dev/null", O_RDONLY);
    ASSERT_GE(leak, 3);
    Vt other(tarvik_vt_create(5, 20));
    pid_t other_pid = tarvik_vt_forkpty(other.get(), "/bin/sleep 5");
    Vt vt(tarvik_vt_create(5, 20));
    pid_t pid = tarvik_vt_forkpty(vt.get(), "/bin/sleep 5");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    std::vector<std::string> fds;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) fds.push_back(entry.path().filename());
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
    close(leak);
    vt.reset();
    other.reset();
    reap_child(pid);
    reap_child(other_pid);
}

TEST(TerminalLayer, KeysReachTheChildIncludingArrowsInApplicationMode)
{
    VtScript c(
        10, 60,
        "stty raw -echo; printf '\\033[?1h'; echo READY; dd bs=1 count=6 2>/dev/null | od -An -c; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_TRUE(pump_until_text(vt, "READY"));
    // The remote switched the cursor keys to application mode: Up must arrive as ESC O A.
    tarvik_vt_keypress(vt, 'q');
    tarvik_vt_keypress(vt, KEY_UP);
    tarvik_vt_keypress(vt, KEY_BACKSPACE);
    tarvik_vt_keypress(vt, 3);
    ASSERT_TRUE(pump_until_text(vt, "177"));
    std::string text = vt_screen_text(vt);
    EXPECT_NE(text.find("q 033   O   A 177 003"), std::string::npos) << text;
}

TEST(TerminalLayer, Utf8AndWideCharactersLandInTheirCellsEvenWhenSplitAcrossReads)
{
    // The euro sign's three bytes arrive in two writes with a pause between them.
    VtScript c(5, 20, "printf 'a\\342\\202'; sleep 0.3; printf '\\254b\\344\\270\\255c'; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(pump_until(vt, [&] { return tarvik_vt_cell(vt, 0, 5).ch == 'c'; }));
    EXPECT_EQ(tarvik_vt_cell(vt, 0, 0).ch, 'a');
    EXPECT_EQ(tarvik_vt_cell(vt, 0, 1).ch, 0x20ACu); // not U+FFFD
    EXPECT_EQ(tarvik_vt_cell(vt, 0, 2).ch, 'b');
    TarvikCell wide = tarvik_vt_cell(vt, 0, 3);
    EXPECT_EQ(wide.ch, 0x4E2Du);
    EXPECT_EQ(wide.width, 2);
    EXPECT_EQ(tarvik_vt_cell(vt, 0, 4).width, 0); // covered by the wide character
    EXPECT_EQ(tarvik_vt_cursor_col(vt), 6);
}

TEST(TerminalLayer, CursorPositionQueryIsAnswered)
{
    // In origin mode the position counts from the corner of the scroll region and margins.
    const char *const cases[][2] = {
        {"ab", "R=033[1;3R"},
        {"\\033[3;8r\\033[?6h\\033[2;3H", "R=033[2;3R"},
        {"\\033[?69h\\033[5;30s\\033[3;8r\\033[?6h\\033[2;3H", "R=033[2;3R"},
        {"\\033[3;8r\\033[?6h\\033[?6l\\033[2;3H", "R=033[2;3R"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        // The shell asks where the cursor is and prints the reply it reads back.
        VtScript s(10, 40,
                   std::string("stty raw -echo; printf '") + c[0] +
                       "\\033[6n'; r=$(dd bs=1 count=6 2>/dev/null | od -An -c | tr -d ' '); "
                       "stty sane; printf '\\033[?6l\\033[?69l\\033[r\\n'; echo \"R=$r\"; sleep 5");
        TarvikVt *vt = s.vt.get();
        ASSERT_TRUE(pump_until_text(vt, "R="));
        EXPECT_NE(vt_screen_text(vt).find(c[1]), std::string::npos) << vt_screen_text(vt);
    }
}

TEST(TerminalLayer, CommandLineRunsNoShell)
{
    std::string marker = "/tmp/quillor-vt-marker-" + std::to_string(getpid());
    unlink(marker.c_str());
    // Each of these would create the marker if any shell saw the line.
    const std::string hostile[] = {
        "/bin/echo a;touch " + marker,
        "/bin/echo $(touch " + marker + ")",
        "/bin/echo `touch " + marker + "`",
        "/bin/echo 'x'|touch " + marker,
    };
    for (const auto &line : hostile) {
        Vt vt(tarvik_vt_create(5, 80));
        pid_t pid = tarvik_vt_forkpty(vt.get(), line.c_str());
        ASSERT_GT(pid, 0);
        // echo prints its arguments literally, which shows how the line was split.
        ASSERT_TRUE(pump_until_text(vt.get(), "touch")) << line;
        reap_child(pid);
        vt_forsake_settled(vt.get());
    }
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "a shell ran the command line";
    unlink(marker.c_str());
}

TEST(TerminalLayer, FailedExecShowsTheReasonAndExits127)
{
    Vt vt(tarvik_vt_create(5, 60));
    pid_t pid = tarvik_vt_forkpty(vt.get(), "/nonexistent/program arg");
    ASSERT_GT(pid, 0);
    int status = reap_child(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    vt_forsake_settled(vt.get());
    EXPECT_NE(vt_screen_text(vt.get()).find("cannot run /nonexistent/program"), std::string::npos);
}

// Forsaking never waits: what the child wrote last comes in through the updates that follow, before
// the note; from the forsake on, keys reach nothing, and a forsaken screen stays drawable.
TEST(TerminalLayer, LastOutputBeforeExitSurvivesForsakingAndForsakenHandleStaysInert)
{
    VtScript c(5, 40, "printf 'first\\r\\n'; sleep 0.2; printf 'last words'");
    TarvikVt *vt = c.vt.get();
    ASSERT_GT(c.pid, 0);
    int status = c.reap();
    EXPECT_TRUE(WIFEXITED(status));
    const auto start = std::chrono::steady_clock::now();
    tarvik_vt_forsake_child(vt, "[ended]");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    tarvik_vt_keypress(vt, 'x');
    tarvik_vt_keypress(vt, KEY_F(5));
    tarvik_vt_forsake_child(vt, "[twice]");
    ASSERT_TRUE(vt_settle_forsaken([&] { tarvik_vt_update(vt); }));
    EXPECT_EQ(tarvik_vt_fd(vt), -1);
    EXPECT_EQ(vt_screen_text(vt), "first\nlast words\n[ended]\n\n\n");

    CursesScreen screen(10, 50);
    WINDOW *win = newwin(5, 40, 2, 3);
    tarvik_vt_draw(vt, win, 0, 0);
    int y, x;
    getyx(win, y, x);
    EXPECT_EQ(y, tarvik_vt_cursor_row(vt));
    EXPECT_EQ(x, tarvik_vt_cursor_col(vt));
    EXPECT_EQ(window_row(win, 1).substr(0, 10), "last words");
    delwin(win);
}

// Another process holding the terminal after the child ended (a helper left behind, a background job)
// keeps it from its end: the screen still takes in what that process writes for a short while, then the
// note is written and the terminal closed, which hangs the helper up.
TEST(TerminalLayer, ForsakenTerminalHeldByAnotherProcessIsClosedSoonAfter)
{
    // The helper outlives the hang-up that the child's end sends to its process group: the child ends
    // only once the helper has said so.
    VtScript c(5, 40,
               "f=/tmp/quillor-helper-$$; (trap '' HUP; : >$f; sleep 0.05; printf 'helper'; sleep 1) & "
               "while [ ! -e $f ]; do sleep 0.01; done; rm -f $f; printf 'child\\r\\n'");
    TarvikVt *vt = c.vt.get();
    ASSERT_GT(c.pid, 0);
    c.reap();
    tarvik_vt_forsake_child(vt, "[ended]");
    EXPECT_GE(tarvik_vt_linger_ms(), 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(vt_settle_forsaken([&] { tarvik_vt_update(vt); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(vt_screen_text(vt), "child\nhelper\n[ended]\n\n\n");
    EXPECT_EQ(tarvik_vt_fd(vt), -1);
}

// A child that ends with the cursor back at the start of its last line, in insert mode and with line
// drawing on: the note goes below that line, in letters.
TEST(TerminalLayer, NoteAfterTheLastLineWhateverModesTheChildLeft)
{
    Vt vt(tarvik_vt_create(4, 30));
    pid_t pid = tarvik_vt_forkpty(vt.get(), "/usr/bin/printf abc\\033[4h\\033(0\\033[31m\\r");
    ASSERT_GT(pid, 0);
    reap_child(pid);
    vt_forsake_settled(vt.get(), "[ssh ended]");
    EXPECT_EQ(vt_screen_text(vt.get()), "abc\n[ssh ended]\n\n\n");
    EXPECT_EQ(tarvik_vt_cursor_row(vt.get()), 1);
    EXPECT_EQ(tarvik_vt_cursor_col(vt.get()), 11);
}

TEST(TerminalLayer, CharacterCutShortByTheEndOfOutputShowsAsReplacement)
{
    // The child's last bytes are the first two of a three-byte character: no continuation will come.
    Vt vt(tarvik_vt_create(3, 20));
    pid_t pid = tarvik_vt_forkpty(vt.get(), "/usr/bin/printf x\\342\\202");
    ASSERT_GT(pid, 0);
    reap_child(pid);
    vt_forsake_settled(vt.get());
    EXPECT_EQ(row_text(vt.get(), 0), "x\xef\xbf\xbd");
    EXPECT_EQ(tarvik_vt_cursor_col(vt.get()), 2);
}

TEST(TerminalLayer, DrawShowsAttributesColoursAndWideCharacters)
{
    VtScript c(4, 20,
               "printf '\\033[1;31mR\\033[0m\\033[44mB\\033[0m\\344\\270\\255\\033[7mV\\033[0m'; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_TRUE(pump_until(vt, [&] { return tarvik_vt_cell(vt, 0, 4).ch == 'V'; }));
    CursesScreen screen(10, 30);
    start_color();
    WINDOW *win = newwin(4, 20, 0, 0);
    tarvik_vt_draw(vt, win, 0, 0);
    WindowCell r = window_cell(win, 0, 0);
    EXPECT_EQ(r.text, "R");
    EXPECT_TRUE(r.attrs & A_BOLD);
    EXPECT_EQ(r.pair, 6); // red on black
    WindowCell b = window_cell(win, 0, 1);
    EXPECT_EQ(b.pair, 32 + 7 - 7); // default foreground (white) on blue
    EXPECT_EQ(window_cell(win, 0, 2).text, "中");
    WindowCell v = window_cell(win, 0, 4);
    EXPECT_EQ(v.text, "V");
    EXPECT_TRUE(v.attrs & A_REVERSE);
    EXPECT_EQ(window_cell(win, 0, 5).pair, 0); // default colours stay the user's own
    delwin(win);
}

TEST(TerminalLayer, HiddenCursorAndAlternateScreenAreFollowed)
{
    VtScript c(6, 40,
               "printf 'shell text'; sleep 0.3; printf '\\033[?1049h\\033[?25lFULLSCREEN'; sleep 0.3; "
               "printf '\\033[?1049l\\033[?25h'; echo; echo BACK; sleep 5");
    TarvikVt *vt = c.vt.get();
    ASSERT_TRUE(pump_until_text(vt, "FULLSCREEN"));
    EXPECT_FALSE(tarvik_vt_cursor_visible(vt));
    EXPECT_EQ(vt_screen_text(vt).find("shell text"), std::string::npos);
    ASSERT_TRUE(pump_until_text(vt, "BACK"));
    EXPECT_TRUE(tarvik_vt_cursor_visible(vt));
    EXPECT_EQ(row_text(vt, 0), "shell text");
    EXPECT_EQ(vt_screen_text(vt).find("FULLSCREEN"), std::string::npos);
}

TEST(TerminalLayer, DestroyHangsUpARunningChild)
{
    VtScript c(5, 20, "trap 'exit 0' HUP; while :; do sleep 0.05; done");
    ASSERT_GT(c.pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.vt.reset();
    EXPECT_NE(c.reap(), -1) << "the child outlived its terminal";
}

TEST(TerminalLayer, FloodingChildIsShownWithinBoundedUpdates)
{
    Vt vt(tarvik_vt_create(10, 40));
    pid_t pid = tarvik_vt_forkpty(vt.get(), "/usr/bin/seq 1 200000");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(pump_until(
        vt.get(), [&] { return row_text(vt.get(), 8) == "200000"; }, 30000));
    reap_child(pid);
}

} // namespace
