// Colourful output on terminals with 256 colours: thousands of colour combinations, drawn again and
// again, must show their exact colours while the terminal has pairs for them, and never crash when it
// runs out.
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/curses_screen.h"
#include "support/temp_dir.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

std::string colored(int fg, int bg, const char *text)
{
    return "\033[38;5;" + std::to_string(fg) + ";48;5;" + std::to_string(bg) + "m" + text;
}

struct Colors {
    int fg, bg;
    bool operator==(const Colors &) const = default;
};

// The colours curses will send for a window cell.
Colors cell_colors(WINDOW *win, int row, int col)
{
    int fg = -1, bg = -1;
    extended_pair_content(window_cell(win, row, col).pair, &fg, &bg);
    return {fg, bg};
}

// A terminal description compiled into the directory from its source; curses finds it there through
// TERMINFO.
void compile_terminal(const TempDir &dir, const std::string &source)
{
    std::string file = dir.write("terminal.src", source);
    std::string cmd = "tic -x -o " + dir.path + " " + file + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    setenv("TERMINFO", dir.path.c_str(), 1);
}

// Like xterm-256color but with only `pairs` colour pairs.
void compile_few_pairs_terminal(const TempDir &dir, int pairs)
{
    compile_terminal(dir, "few-pairs|256 colours and few pairs,\n\tpairs#" + std::to_string(pairs) +
                              ", use=xterm-256color,\n");
}

// Like xterm-256color, with direct colour: colour numbers from 8 on are RGB values.
void compile_direct_terminal(const TempDir &dir)
{
    compile_terminal(dir, "direct-test|direct colour,\n\tcolors#0x1000000, pairs#0x10000, RGB,\n"
                          "\tsetaf=\\E[%?%p1%{8}%<%t3%p1%d%e38;2;%p1%{65536}%/%d;%p1%{256}%/%{255}%&%d;"
                          "%p1%{255}%&%d%;m,\n"
                          "\tsetab=\\E[%?%p1%{8}%<%t4%p1%d%e48;2;%p1%{65536}%/%d;%p1%{256}%/%{255}%&%d;"
                          "%p1%{255}%&%d%;m,\n"
                          "\tuse=xterm-256color,\n");
}

// 32 foregrounds on each of the 256 backgrounds, one foreground per frame, two rows of 128 cells each,
// in passes forward, backward and forward again: every frame's cells carry exactly their colours, and
// so does the terminal at the end.
TEST(Palette, ThousandsOfCombinationsOverSeveralPassesKeepTheirExactColours)
{
    constexpr int kRows = 24, kCols = 128, kForegrounds = 32;
    CursesScreen screen(kRows, kCols, "xterm-256color");
    start_color();
    ASSERT_EQ(COLORS, 256);
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(kRows, kCols));
    WINDOW *win = newwin(kRows, kCols, 0, 0);
    int shown_fg[kRows / 2] = {};
    const int order[] = {1, -1, 1};
    for (int dir : order) {
        for (int n = 0; n < kForegrounds; ++n) {
            int i = dir > 0 ? n : kForegrounds - 1 - n;
            int fg = i * 8 + (i & 7);
            int row = i % (kRows / 2) * 2;
            std::string bytes = "\033[" + std::to_string(row + 1) + ";1H";
            for (int bg = 0; bg < 256; ++bg) bytes += colored(fg, bg, "X");
            vt_feed_output(vt.get(), bytes);
            tarvik_vt_draw(vt.get(), win, 0, 0);
            shown_fg[row / 2] = fg;
            for (int bg = 0; bg < 256; ++bg)
                ASSERT_EQ(cell_colors(win, row + bg / kCols, bg % kCols), (Colors{fg, bg}))
                    << "foreground " << fg << ", background " << bg;
            wnoutrefresh(win);
            doupdate();
        }
    }
    auto terminal_matches = [&] {
        for (int row = 0; row < kRows; ++row)
            for (int col = 0; col < kCols; ++col) {
                ReadCell c = screen.terminal().cell(row, col);
                if (c.fg != shown_fg[row / 2] || c.bg != row % 2 * kCols + col) return false;
            }
        return true;
    };
    for (int tries = 0; tries < 100 && !terminal_matches(); ++tries) screen.settle(50);
    EXPECT_TRUE(terminal_matches());
    delwin(win);
}

// With 100 pairs (36 above the fixed ones), combinations come and go: each frame's own cells keep
// exact colours while they fit, and a frame with more combinations than pairs takes basic colours for
// the rest rather than recolouring cells it just drew.
TEST(Palette, WhenPairsRunOutTheLeastRecentlyDrawnIsReusedNeverOneOfThisFrame)
{
    TempDir dir;
    compile_few_pairs_terminal(dir, 100);
    CursesScreen screen(10, 80, "few-pairs");
    start_color();
    ASSERT_EQ(COLORS, 256);
    ASSERT_EQ(COLOR_PAIRS, 100);
    tarvik_colors_init();
    Vt vt(tarvik_vt_create(10, 80));
    WINDOW *win = newwin(10, 80, 0, 0);
    for (int frame = 0; frame < 300; ++frame) {
        std::string bytes = "\033[1;1H";
        for (int k = 0; k < 30; ++k) bytes += colored(16 + (frame * 30 + k) % 240, 100 + k, "o");
        vt_feed_output(vt.get(), bytes);
        tarvik_vt_draw(vt.get(), win, 0, 0);
        for (int k = 0; k < 30; ++k)
            ASSERT_EQ(cell_colors(win, 0, k), (Colors{16 + (frame * 30 + k) % 240, 100 + k}))
                << "frame " << frame << ", cell " << k;
        wnoutrefresh(win);
        doupdate();
    }

    std::string crowded = "\033[2;1H";
    for (int k = 0; k < 60; ++k) crowded += colored(200, 17 + k, "c");
    vt_feed_output(vt.get(), crowded);
    tarvik_vt_draw(vt.get(), win, 0, 0);
    for (int k = 0; k < 36; ++k) EXPECT_EQ(cell_colors(win, 1, k), (Colors{200, 17 + k})) << "cell " << k;
    for (int k = 36; k < 60; ++k) EXPECT_LT(window_cell(win, 1, k).pair, 64) << "cell " << k;
    wnoutrefresh(win);
    doupdate();
    delwin(win);
    unsetenv("TERMINFO");
}

// A machine's colours on the user's terminal, as the user's terminal has them: the default colours
// are its own (a light theme shows no black slabs, also where only one side is the default), RGB goes
// through where the description has direct colour and becomes the nearest of the 256 where not, even
// when COLORTERM claims more; and the program's own white on black stays what it is.
TEST(Palette, MachineColoursAreDrawnAsTheUsersTerminalHasThem)
{
    constexpr int kRgb = 1000; // the reader's RGB colours are 1000 + 0xRRGGBB
    const char kCells[] = "P\033[31mR\033[39;44mB\033[38;2;10;200;30;48;2;1;2;3mG\033[0;38;5;196mI";
    struct Case {
        const char *term;
        // Foreground and background of: the default colours, red on the default, the default on blue,
        // 38;2;10;200;30 on 48;2;1;2;3, 38;5;196; and of the program's own white on black.
        int colours[6][2];
    };
    const Case cases[] = {
        {"xterm-256color", {{-1, -1}, {1, -1}, {-1, 4}, {40, 16}, {196, -1}, {7, 0}}},
        {"direct-test",
         {{-1, -1}, {1, -1}, {-1, 4}, {kRgb + 0x0AC81E, kRgb + 0x010203}, {kRgb + 0xFF0000, -1}, {7, 0}}},
        // Eight colours, 64 pairs: no room for the default colours beside the program's; as before.
        {"xterm", {{7, 0}, {1, 0}, {7, 4}, {2, 0}, {1, 0}, {7, 0}}},
    };
    setenv("COLORTERM", "truecolor", 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.term);
        TempDir dir;
        if (std::string(c.term) == "direct-test") compile_direct_terminal(dir);
        CursesScreen screen(4, 40, c.term);
        start_color();
        tarvik_colors_init(true);
        Vt vt(tarvik_vt_create(2, 40));
        vt_feed_output(vt.get(), kCells);
        WINDOW *win = newwin(2, 40, 0, 0);
        tarvik_vt_draw(vt.get(), win, 0, 0);
        wattrset(win, COLOR_PAIR(tarvik_color_pair(COLOR_WHITE, COLOR_BLACK)));
        mvwaddstr(win, 0, 5, "W");
        wnoutrefresh(win);
        doupdate();
        // The program's cell comes last in the update: once it is there, everything is.
        for (int tries = 0; tries < 40 && screen.terminal().cell(0, 5).text != "W"; ++tries)
            screen.settle(50);
        for (int col = 0; col < 6; ++col) {
            ReadCell r = screen.terminal().cell(0, col);
            EXPECT_EQ(r.fg, c.colours[col][0]) << "column " << col;
            EXPECT_EQ(r.bg, c.colours[col][1]) << "column " << col;
        }
        delwin(win);
        unsetenv("TERMINFO");
    }
    unsetenv("COLORTERM");
}

} // namespace
