// Starting quillor: the command line's answers and errors, and a terminal too small or unfit to draw
// on, leave the terminal as it was; the splash, the frame and the key-help bar appear where they belong.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kUsage = "Syntax: quillor [-w] [-W list_width] [-T term_width] [-S lines] [-P logins]\n"
                           "                [-I ms] [name | @source]...\n"
                           "        quillor -h | --help | --version\n\n"
                           "     -w        starts with the wall: every machine's terminal in tiles\n"
                           "               (F1 w turns it on and off)\n\n"
                           "     -W        specifies width of machine list area\n"
                           "               (default is 8 characters)\n\n"
                           "     -T        specifies width of terminal area\n"
                           "               (default is 80 characters)\n\n"
                           "     -S        specifies lines of history kept per machine\n"
                           "               (default is 2000 lines, 0 keeps none)\n\n"
                           "     -P        specifies logins in progress at once\n"
                           "               (default is 8, 0 is no limit)\n\n"
                           "     -I        specifies least milliseconds between two logins\n"
                           "               (default is 0)\n\n"
                           "     name      machine to log into, as typed at the F5 prompt\n"
                           "               (web[01-12] names twelve; after -- if it begins with -)\n\n"
                           "     @source   every machine named in a file, or printed by\n"
                           "               QUILLOR_AT_COMMAND when that is set\n\n"
                           "     -h        prints this text (also --help)\n\n"
                           "     --version prints the version of quillor\n\n";

struct CommandLine {
    std::vector<std::string> args;
    std::vector<std::string> env;
    bool piped; // standard output on a pipe rather than the terminal
    int status;
    std::string out; // everything written
};

// Every way the command line answers or refuses before the screen is taken: the answer (help, version)
// with status 0, even into a pipe; errors naming the program, with the usage text after an option
// error (status 2); a terminal quillor cannot draw on refused with status 1. On the terminal, not one
// byte that could change it; into a pipe, nothing but the refusal.
TEST(E2eStartup, CommandLineAnswersOrRefusesBeforeTakingTheTerminal)
{
    const std::string width = "quillor: list width must not be negative: ";
    const std::string narrow = "quillor: terminal area too narrow: ";
    const std::string lines = "quillor: history lines ";
    const CommandLine cases[] = {
        {{"--help"}, {}, false, 0, kUsage},
        {{"-h"}, {}, true, 0, kUsage},
        {{"--version"}, {}, false, 0, "quillor " QUILLOR_VERSION "\n"},
        {{}, {}, true, 1, "quillor: standard output is not a terminal\n"},
        // Options are read first: a mistyped one is the answer whatever the output is.
        {{"-W", "-3"}, {}, true, 2, width + "-3\n" + kUsage},
        {{"-T", "79"}, {}, false, 2, narrow + "79\n" + kUsage},
        {{"-T", "x"}, {}, false, 2, narrow + "0\n" + kUsage},
        {{"-W", "-1"}, {}, false, 2, width + "-1\n" + kUsage},
        {{"-W", "8", "-T", "20", "-W", "-5"}, {}, false, 2, narrow + "20\n" + kUsage},
        {{"-Z"}, {}, false, 2, "quillor: invalid option -- 'Z'\n" + kUsage},
        {{"--bogus"}, {}, false, 2, "quillor: unrecognized option '--bogus'\n" + kUsage},
        {{"-T"}, {}, false, 2, "quillor: option requires an argument -- 'T'\n" + kUsage},
        {{"-S", "-1"}, {}, false, 2, lines + "must not be negative: -1\n" + kUsage},
        {{"-S", "lots"}, {}, false, 2, lines + "not a number: lots\n" + kUsage},
        {{"-S", "20x"}, {}, false, 2, lines + "not a number: 20x\n" + kUsage},
        {{"-S", ""}, {}, false, 2, lines + "not a number: \n" + kUsage},
        {{"-S", "99999999999"}, {}, false, 2, lines + "too many: 99999999999\n" + kUsage},
        {{}, {"TERM=dumb"}, false, 1, "quillor: TERM=dumb names a terminal that cannot move its cursor.\n"},
        {{}, {"TERM=nonesuch"}, false, 1, "quillor: found no terminal description for TERM=nonesuch.\n"},
        {{}, {"TERM="}, false, 1, "quillor: needs TERM set to the name of your terminal; it is not set.\n"},
        {{"-P", "-1"}, {}, false, 2, "quillor: logins at once must not be negative: -1\n" + kUsage},
        {{"-I", "soon"}, {}, false, 2, "quillor: milliseconds between logins not a number: soon\n" + kUsage},
    };
    for (const CommandLine &c : cases) {
        std::string shown = c.piped ? "| " : "";
        for (const std::string &a : c.env) shown += a + " ";
        for (const std::string &a : c.args) shown += "'" + a + "' ";
        SCOPED_TRACE(shown);
        if (c.piped) {
            int status;
            EXPECT_EQ(quillor_piped(c.args, &status), c.out);
            EXPECT_EQ(status, c.status);
            continue;
        }
        QuillorSession q(c.args, 25, 80, c.env);
        ASSERT_EQ(q.wait_status(), c.status) << q.dump();
        EXPECT_EQ(q.program_output(), c.out);
        EXPECT_EQ(q.modes_after(), q.modes_before());
        EXPECT_FALSE(q.modes_before().empty());
    }
}

// A screen one column or one row short is refused after curses has started; the message must land on
// the user's own screen, and every mode curses set must be undone.
TEST(E2eStartup, TooSmallScreenExitsOneWithMessageAndRestoresTerminal)
{
    const std::pair<int, int> sizes[] = {{25, 79}, {24, 80}};
    for (const auto &[rows, cols] : sizes) {
        SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(rows));
        QuillorSession q({}, rows, cols);
        ASSERT_EQ(q.wait_status(), 1) << q.dump();
        const std::string out = q.program_output();
        const std::string message =
            "quillor: requires a 80 x 25 terminal to run.\nquillor: the terminal is " + std::to_string(cols) +
            " x " + std::to_string(rows) + "\n";
        ASSERT_GE(out.size(), message.size());
        EXPECT_EQ(out.substr(out.size() - message.size()), message);
        EXPECT_TRUE(q.terminal_modes_reset());
        EXPECT_EQ(q.modes_after(), q.modes_before());
        EXPECT_TRUE(q.wait_for_text("quillor: requires a 80 x 25 terminal to run.")) << q.dump();
        EXPECT_TRUE(q.screen().cursor_visible());
    }
}

bool is_hline(const ReadCell &c)
{
    return c.text == "\u2500";
}

// The splash title is centred in blue; then the frame, the key-help bar in its colours and the mode
// indicator. The 80-column screen waits for the splash to time out, the wide one ends it with a key.
TEST(E2eStartup, SplashThenFrameAndKeyHelpBar)
{
    struct Case {
        int rows, cols;
        bool press_key;
        int title_col, sep_x;
    };
    const Case cases[] = {{25, 80, false, 33, 10}, {40, 132, true, 59, 51}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        QuillorSession q({}, c.rows, c.cols);
        const int title_row = c.rows / 2;
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return s.row_text(title_row).find("Quillor v" QUILLOR_VERSION) != std::string::npos &&
                   s.row_text(title_row + 1).find_first_not_of(' ') != std::string::npos;
        })) << q.dump();
        const std::string title_line = q.screen().row_text(title_row);
        EXPECT_EQ(title_line.find("Quillor v" QUILLOR_VERSION), static_cast<size_t>(c.title_col)) << q.dump();
        EXPECT_TRUE(has_colours(q.screen().cell(title_row, c.title_col), 4, 0, false));
        // The credit line below is centred by the same rule.
        const std::string credit = q.screen().row_text(title_row + 1);
        const size_t first = credit.find_first_not_of(' ');
        const size_t last = credit.find_last_not_of(' ');
        ASSERT_NE(first, std::string::npos) << q.dump();
        EXPECT_EQ(first, (c.cols - (last - first + 1)) / 2) << credit;

        if (c.press_key) q.send(" ");
        // The captions and the mode indicator come with later refreshes than the frame.
        const int bar_row = c.rows - 2;
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return s.row_text(bar_row).find("F7:mcast") != std::string::npos &&
                   q.minibuf_text().find("singlecast mode") != std::string::npos &&
                   (c.cols <= 90 || screen_cells(s, 0, c.sep_x + 2, c.sep_x + 12) == "[Terminal]");
        })) << q.dump();
        const ScreenReader &s = q.screen();
        EXPECT_EQ(s.row_text(title_row).find("Quillor v" QUILLOR_VERSION), std::string::npos)
            << "splash left over";

        // Frame: the top line with its tee, the separator down to the last panel row.
        EXPECT_EQ(s.cell(0, c.sep_x).text, "\u252c");
        EXPECT_TRUE(has_colours(s.cell(0, c.sep_x), 4, 0, true));
        EXPECT_TRUE(is_hline(s.cell(0, 0)));
        EXPECT_TRUE(is_hline(s.cell(0, c.cols - 1)));
        for (int row = 1; row <= c.rows - 3; ++row) EXPECT_EQ(s.cell(row, c.sep_x).text, "\u2502") << row;
        const bool captions = c.cols > 90;
        EXPECT_EQ(screen_cells(s, 0, 2, 12) == "[Machines]", captions) << s.row_text(0);
        EXPECT_EQ(screen_cells(s, 0, c.sep_x + 2, c.sep_x + 12) == "[Terminal]", captions) << s.row_text(0);

        // Key-help bar: text, key names in their colours, all on blue to the last column.
        const std::string bar =
            "Quillor v" QUILLOR_VERSION "  F1:menu  F2/3:sel  F4:tag  F5:add  F6:del  F7:mcast";
        EXPECT_EQ(s.row_text(bar_row), bar + std::string(c.cols - bar.size(), ' '));
        const std::pair<const char *, int> key_colours[] = {
            {"Quillor", 7}, {"F1", 7}, {":menu", 7}, {"F2/3", 6}, {":sel", 7},
            {"F4", 3},      {"F5", 2}, {"F6", 1},    {"F7", 5},   {":mcast", 7}};
        for (const auto &[word, fg] : key_colours) {
            EXPECT_TRUE(has_colours(s.cell(bar_row, static_cast<int>(bar.find(word))), fg, 4, true)) << word;
        }
        EXPECT_EQ(s.cell(bar_row, c.cols - 1).bg, 4);

        // The mode indicator ends in the last column.
        EXPECT_EQ(q.minibuf_text(), std::string(c.cols - 15, ' ') + "singlecast mode");
        EXPECT_TRUE(has_colours(q.minibuf_cell(c.cols - 15), 4, 0, false));
    }
}

} // namespace
