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

// A terminal description like xterm-256color but with only `pairs` colour pairs, compiled into the
// directory; curses finds it there through TERMINFO.
void compile_few_pairs_terminal(const TempDir &dir, int pairs)
{
    std::string source = dir.write("few.src", "few-pairs|256 colours and few pairs,\n\tpairs#" +
                                                  std::to_string(pairs) + ", use=xterm-256color,\n");
    std::string cmd = "tic -o " + dir.path + " " + source + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    setenv("TERMINFO", dir.path.c_str(), 1);
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

} // namespace
