// A screen given a new size keeps what a terminal window keeps, tells its child, and stays sound for
// any sequence of sizes.
#include <signal.h>
#include <sys/wait.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fuzz_checks.h"
#include "support/vt_text.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

void feed(TarvikVt *vt, const std::string &bytes)
{
    vt_write(vt, bytes.data(), bytes.size());
}

std::vector<std::string> rows_of(const TarvikVt *vt)
{
    std::vector<std::string> rows;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r) rows.push_back(vt_row_text(vt, r));
    return rows;
}

TEST(Resize, ContentIsKeptCutOrPaddedAroundTheCursorsLine)
{
    struct Case {
        const char *what;
        int rows, cols;
        std::string before;
        int to_rows, to_cols;
        std::string after; // printed once resized, at the cursor
        int again_cols;    // then this wide, when not 0
        std::vector<std::string> shows;
        int cursor_row, cursor_col;
    } cases[] = {
        {"fewer rows: the lines above the cursor go",
         5,
         10,
         "1\r\n2\r\n3\r\n4\r\n5",
         3,
         10,
         "",
         0,
         {"3", "4", "5"},
         2,
         1},
        {"fewer rows, cursor at the top: the bottom goes",
         4,
         10,
         "a\r\nb\r\nc\x1b[H",
         2,
         10,
         "",
         0,
         {"a", "b"},
         0,
         0},
        {"more rows: blank lines below", 2, 10, "a\r\nb", 4, 10, "!", 0, {"a", "b!", "", ""}, 1, 2},
        {"narrower cuts, and wider again pads", 2, 10, "abcdefgh", 2, 4, "\r\n", 10, {"abcd", ""}, 1, 0},
        {"a wide character the edge cuts goes whole",
         2,
         10,
         "ab\xe4\xb8\xad",
         2,
         3,
         "\r\n",
         0,
         {"ab", ""},
         1,
         0},
        {"a saved cursor outside the smaller screen comes back inside",
         30,
         40,
         "\x1b[20;30H\x1b"
         "7",
         5,
         10,
         "\x1b"
         "8X",
         0,
         {"", "", "", "", "         X"},
         4,
         9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Vt vt(tarvik_vt_create(c.rows, c.cols));
        feed(vt.get(), c.before);
        tarvik_vt_resize(vt.get(), c.to_rows, c.to_cols);
        feed(vt.get(), c.after);
        if (c.again_cols) tarvik_vt_resize(vt.get(), c.to_rows, c.again_cols);
        EXPECT_EQ(rows_of(vt.get()), c.shows);
        EXPECT_EQ(tarvik_vt_cursor_row(vt.get()), c.cursor_row);
        EXPECT_EQ(tarvik_vt_cursor_col(vt.get()), c.cursor_col);
        EXPECT_EQ(tarvik_vt_cell(vt.get(), 0, c.to_cols - 1).width, 1) << "half a wide character left";
    }
}

// The second character of each line that leaves the top of the main screen.
void note_line(const TarvikLineCell *cells, int count, bool, void *user)
{
    static_cast<std::string *>(user)->push_back(count > 1 ? static_cast<char>(cells[1].chars[0]) : ' ');
}

// Lines a smaller screen pushes off go where scrolled lines go, the main screen's too while a
// full-screen program runs; those of the alternate screen go nowhere.
TEST(Resize, MainScreenKeepsItsCursorLineWhileAFullScreenProgramRuns)
{
    Vt vt(tarvik_vt_create(8, 20));
    std::string left;
    tarvik_vt_set_scrollback(vt.get(), note_line, &left);
    feed(vt.get(), "m1\r\nm2\r\nm3\r\nm4\r\nm5\r\nm6\r\n$ vi");
    feed(vt.get(), "\x1b[?1049h\x1b[8;1Hstatus");
    tarvik_vt_resize(vt.get(), 3, 12);
    EXPECT_EQ(rows_of(vt.get()), (std::vector<std::string>{"", "", "status"}));
    feed(vt.get(), "\x1b[?1049l\r\n$ ");
    EXPECT_EQ(rows_of(vt.get()), (std::vector<std::string>{"m6", "$ vi", "$"}));
    EXPECT_EQ(tarvik_vt_cursor_row(vt.get()), 2);
    EXPECT_EQ(left, "12345");
}

TEST(Resize, ChildIsToldTheNewSizeAndAnEndedScreenKeepsItsContent)
{
    Script s("trap 'stty size' WINCH; echo READY; while :; do sleep 0.05; done");
    Vt vt(tarvik_vt_create(6, 40));
    pid_t pid = tarvik_vt_forkpty(vt.get(), s.path.c_str());
    ASSERT_GT(pid, 0);
    auto shows = [&](const std::string &text) {
        return vt_pump_until(vt.get(),
                             [&] { return vt_screen_text(vt.get()).find(text) != std::string::npos; });
    };
    ASSERT_TRUE(shows("READY"));
    tarvik_vt_resize(vt.get(), 12, 50);
    EXPECT_TRUE(shows("12 50"));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    tarvik_vt_forsake_child(vt.get());
    tarvik_vt_resize(vt.get(), 3, 30);
    EXPECT_NE(vt_screen_text(vt.get()).find("12 50"), std::string::npos) << vt_screen_text(vt.get());
}

// Hundreds of size changes between random output that moves, saves and restores the cursor, switches
// screens and sets margins, through the terminal fuzzer's checks.
TEST(Resize, StormsOfSizesAmidOutputKeepCursorAndCellsSane)
{
    const std::vector<std::string> tokens = {
        "text ",
        "\xe4\xb8\xad",
        "\r\n",
        "\x1b"
        "7",
        "\x1b"
        "8",
        "\x1b[?1049h",
        "\x1b[?1049l",
        "\x1b[3;9r",
        "\x1b[r",
        "\x1b[99;99H",
        "\x1b[H",
        "\x1b[L",
        "\x1b[M",
        "\x1b[2@",
        "\x1b[3b",
        "\x1b#8",
        "\x1b[?6h",
        "\x1b[?6l",
        "\x1b"
        "M",
        "\x1b[2J",
        "\xcc\x81",
        "\t",
        "\x1b[?69h",
        "\x1b[4;30s",
        "\x1b[?69l",
        "\x1b[s",
        "\x1b[u",
        "\x1b[2S",
        "\x1b[2T",
        "\x1b[?1047h",
        "\x1b[?1047l",
        "\x1b[5P",
        "\x1b[3X",
    };
    std::mt19937 rng(42);
    for (int input = 0; input < 40; ++input) {
        // Pieces of 16 bytes, each after a size byte; 0xC0 and up change the size.
        std::vector<uint8_t> bytes{static_cast<uint8_t>(0x80 | (4 << 2) | (input & 3))};
        for (int piece = 0; piece < 60; ++piece) {
            bytes.push_back(static_cast<uint8_t>(rng() % 2 ? 0xC0 | (rng() & 0x3F) : 0));
            std::string out;
            while (out.size() < 16) out += tokens[rng() % tokens.size()];
            bytes.insert(bytes.end(), out.begin(), out.begin() + 16);
        }
        EXPECT_EQ(fuzz_check_vt(bytes.data(), bytes.size()), "") << "input " << input;
    }
}

} // namespace
