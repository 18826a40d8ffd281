// What a machine prints, as the user's own terminal shows it: a remote running through thousands of
// colour combinations on a 256-colour terminal.
#include "support/quillor_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Logs into h1 and waits for its prompt.
void log_in(QuillorSession &q)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add(sshd->add_name(1), 1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
}

// The screen row and column where the terminal panel shows `text` first, or {-1, -1}.
std::pair<int, int> find_in_panel(const QuillorSession &q, const std::string &text)
{
    for (int row = 1; row <= q.rows() - 3; ++row) {
        size_t at = screen_cells(q.screen(), row, q.term_x(), q.cols()).find(text);
        if (at != std::string::npos) return {row, q.term_x() + static_cast<int>(at)};
    }
    return {-1, -1};
}

// 32 foregrounds on each of the 256 backgrounds, a line every 30 ms, forward, backward and forward
// again: quillor lives through it, and the last lines show their exact colours.
TEST(E2eDrawing, ThousandsOfColourCombinationsOnA256ColourTerminal)
{
    TempDir dir;
    std::string lines;
    const int passes[][3] = {{0, 32, 1}, {31, -1, -1}, {0, 32, 1}};
    for (const auto &pass : passes)
        for (int i = pass[0]; i != pass[1]; i += pass[2]) {
            for (int bg = 0; bg < 256; ++bg)
                lines += "\033[38;5;" + std::to_string(i * 8) + ";48;5;" + std::to_string(bg) + "mX";
            lines += "\033[0m\n";
        }
    lines += "\033[38;5;200;48;5;17mCOLOURS_DONE\033[0m\n";
    dir.write("lines", lines);
    std::string script =
        dir.write("colours.sh", "while IFS= read -r l; do printf '%s\\n' \"$l\"; sleep 0.03; done < " +
                                    dir.path + "/lines\n");

    QuillorSession q({}, 30, 100, {"TERM=xterm-256color"});
    ASSERT_NO_FATAL_FAILURE(log_in(q));
    q.send("sh " + script + "\r");
    ASSERT_TRUE(q.terminal_shows("COLOURS_DONE", 60000)) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        auto [row, col] = find_in_panel(q, "COLOURS_DONE");
        if (row < 3) return false;
        // Each 256-cell line took four panel rows of 80, the last with backgrounds 240-255.
        for (int k = 0; k < 12; ++k)
            if (!has_colours(q.screen().cell(row, col + k), 200, 17, false)) return false;
        for (int k = 0; k < 16; ++k)
            if (!has_colours(q.screen().cell(row - 1, q.term_x() + k), 248, 240 + k, false)) return false;
        for (int k = 0; k < 80; ++k)
            if (!has_colours(q.screen().cell(row - 2, q.term_x() + k), 248, 160 + k, false)) return false;
        return true;
    })) << q.dump();
    EXPECT_EQ(q.quit(), 0);
}

} // namespace
