// Hostile and broken input through the real program: names that a shell would run, files that cannot
// be read or hold no names, commands that fail or write without end, and a machine that floods.
#include "support/proc_files.h"
#include "support/quillor_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class E2eReliabilityInput : public ::testing::Test {
protected:
    // The "@" form reads a file unless this is set; the tests that want it set it for quillor alone.
    void SetUp() override { unsetenv("QUILLOR_AT_COMMAND"); }
};

bool shows_dead(const QuillorSession &q, int i)
{
    return has_colours(q.list_cell(i), 0, q.list_cell(i).bg == 1 ? 1 : 0, true);
}

bool idle(const QuillorSession &q)
{
    return q.minibuf_text().find("singlecast mode") != std::string::npos &&
           q.minibuf_text().find("Adding machines") == std::string::npos;
}

// F5 and the text; then either the error, which is dismissed, or the end of the adding.
void add_and_settle(QuillorSession &q, const std::string &text, const std::string &error = "")
{
    q.send(keys::F5);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Add: ", 0) == 0; }))
        << q.dump();
    q.send(text + keys::Enter);
    if (!error.empty()) {
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(error, 0) == 0; }))
            << q.dump();
        EXPECT_TRUE(has_colours(q.minibuf_cell(0), 7, 1, true));
        q.send(" ");
    }
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return idle(q); }, 60000)) << q.dump();
}

// Shell syntax in a name reaches ssh as plain text, whether typed, read from a file or printed by the
// machine-list command; and the path after "@" is a path, never a command. Had any of it reached a
// shell, the marker file would exist.
TEST_F(E2eReliabilityInput, ShellSyntaxInNamesRunsNothingButSsh)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string m = dir.path + "/marker";
    const std::vector<std::string> typed = {
        "x.invalid;touch " + m, "x.invalid|touch " + m,      "$(touch " + m + ")",
        "`touch " + m + "`",    "'x.invalid';touch " + m,    "\"x.invalid\"&&touch " + m,
        "x.invalid>" + m,       "x.invalid&touch${IFS}" + m,
    };
    // One word each, as a file gives them.
    const std::vector<std::string> words = {
        "x.invalid;touch${IFS}" + m,
        "$(touch${IFS}" + m + ")",
        "`touch${IFS}" + m + "`",
        "x.invalid|tee${IFS}" + m,
        ">" + m,
        "'$(touch${IFS}" + m + ")'",
        "\"$(touch${IFS}" + m + ")\"",
    };
    std::string file_text;
    for (const std::string &w : words) file_text += w + "\n";
    const std::string file = dir.write("names", file_text);
    const int total = static_cast<int>(typed.size() + words.size());

    {
        QuillorSession q({}, 25, 80);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        for (size_t i = 0; i < typed.size(); ++i)
            ASSERT_TRUE(q.add(typed[i], static_cast<int>(i + 1))) << typed[i] << q.dump();
        ASSERT_TRUE(q.add("@" + file, total)) << q.dump();
        ASSERT_NO_FATAL_FAILURE(add_and_settle(q, "@" + file + ";touch " + m, "Can't read that file."));
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
            for (int i = 0; i < total; ++i)
                if (!shows_dead(q, i)) return false;
            return true;
        })) << q.dump();
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
    {
        QuillorSession q({}, 25, 80, {"QUILLOR_AT_COMMAND=cat"});
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        ASSERT_TRUE(q.add("@" + file, static_cast<int>(words.size()))) << q.dump();
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
            for (int i = 0; i < static_cast<int>(words.size()); ++i)
                if (!shows_dead(q, i)) return false;
            return true;
        })) << q.dump();
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(m)) << "a shell ran part of a name";
}

struct BrokenFile {
    const char *what;
    std::string path;
    std::string error;              // shown and waiting for a key; empty for none
    size_t added;                   // machines added
    std::vector<std::string> shown; // the first list rows afterwards (each name cut to 8 columns)
};

// Files that cannot be read, or hold words that cannot be names: each gives a clear message or a
// defined result, and quillor goes on taking names.
TEST_F(E2eReliabilityInput, BrokenFilesGiveAMessageOrADefinedResult)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string long_word(10 * 1024, 'L');
    // Bytes below 32 (other than white space) and 127 cannot be in a name: those words are skipped,
    // the others kept in order, bytes above 127 included.
    const std::string binary = std::string("\x01\x02"
                                           "ab good.invalid x\x7fy ") +
                               std::string(1, '\0') +
                               "zz \xc3\xa9t\xc3\xa9.invalid\n\x1b[31mred.invalid\tlast.invalid";
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    for (char &c : noise) c = static_cast<char>(random());
    // How many names the noise holds by that rule: more than the list window shows, so it is full.
    size_t noise_names = 0;
    bool in_word = false, usable = true;
    for (char c : noise + ' ') {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ' || (c >= '\t' && c <= '\r')) {
            if (in_word && usable) ++noise_names;
            in_word = false;
            usable = true;
        } else {
            in_word = true;
            if (byte < 32 || byte == 127) usable = false;
        }
    }
    ASSERT_GT(noise_names, 22u);

    const BrokenFile cases[] = {
        {"directory", dir.path, "Can't read that file.", 0, {}},
        // Closed to every reader, root included (tests run as root, for whom file modes are no bar).
        {"open refused", "/proc/sys/vm/compact_memory", "Can't read that file.", 0, {}},
        // Opens, but its first read fails: not an empty file.
        {"read fails", "/proc/self/mem", "Can't read that file.", 0, {}},
        {"10 kB word", dir.write("long", long_word + "\nok.invalid\n"), "", 2, {"LLLLLLLL", "ok.inval"}},
        {"binary bytes", dir.write("binary", binary), "", 3, {"good.inv", "été.inva", "last.inv"}},
        {"random bytes", dir.write("noise", noise), "", std::min<size_t>(noise_names, 256), {}},
    };
    for (const BrokenFile &c : cases) {
        SCOPED_TRACE(c.what);
        QuillorSession q({}, 25, 80);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        ASSERT_NO_FATAL_FAILURE(add_and_settle(q, "@" + c.path, c.error));
        ASSERT_EQ(q.list_count(), static_cast<int>(std::min<size_t>(c.added, 22))) << q.dump();
        for (size_t i = 0; i < c.shown.size(); ++i)
            EXPECT_EQ(screen_cells(q.screen(), static_cast<int>(i) + 1, 1, 9), c.shown[i]) << q.dump();
        // Still taking names: the list emptied, one more added.
        ASSERT_TRUE(q.delete_all()) << q.dump();
        ASSERT_TRUE(q.add("after.invalid", 1)) << q.dump();
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
}

// Ten thousand names: the first 256 are added in order, the rest read and dropped, in seconds; and
// the program answers keys at once with its list full of dead machines.
TEST_F(E2eReliabilityInput, TenThousandNamesAdd256AndTheProgramStaysResponsive)
{
    TempDir dir;
    std::string names;
    char name[32];
    for (int i = 0; i < 10000; ++i) {
        std::snprintf(name, sizeof name, "%04d.invalid\n", i);
        names += name;
    }
    const std::string file = dir.write("names", names);
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();

    const auto start = Clock::now();
    ASSERT_NO_FATAL_FAILURE(add_and_settle(q, "@" + file));
    const long long add_ms = ms_since(start);
    EXPECT_EQ(q.list_count(), 22);

    // To the end of the list and past it: the last machine is the 256th name.
    const auto nav = Clock::now();
    std::string moves;
    for (int i = 0; i < 300; ++i) moves += keys::F3;
    q.send(moves);
    ASSERT_TRUE(q.wait_for(
        [&](const ScreenReader &) { return q.list_row(21) == " 0255.inv " && q.list_cell(21).bg == 1; },
        30000))
        << q.dump();
    const long long nav_ms = ms_since(nav);
    EXPECT_EQ(q.list_row(0), " 0234.inv ");

    const auto menu = Clock::now();
    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ", 2000)) << q.dump();
    const long long menu_ms = ms_since(menu);
    q.send("x");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return idle(q); })) << q.dump();
    // 256 ssh processes ending is the machine's work, not quillor's: on a loaded machine it takes long.
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) { return q.children().empty(); }, 60000));
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) { return process_zombies(q.pid()).empty(); }));
    std::printf("10000 names: added and dropped in %lld ms; 300 moves in %lld ms; menu in %lld ms\n", add_ms,
                nav_ms, menu_ms);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

struct BrokenCommand {
    const char *what;
    std::string command; // the value of QUILLOR_AT_COMMAND
    std::string rest;    // what follows "@"
    std::string error;
    int added;
};

// QUILLOR_AT_COMMAND empty, missing, silent, failing, reading its input, or writing 100 MB: a message
// or a defined result each time, in seconds.
TEST_F(E2eReliabilityInput, BrokenCommandsGiveAMessageOrADefinedResult)
{
    const std::string failed = "Command given by QUILLOR_AT_COMMAND exited with error.";
    const BrokenCommand cases[] = {
        {"empty, no argument", "", "", "", 0},
        {"empty, names as the command", "", "a.invalid b.invalid", failed, 0},
        {"missing", "/nonexistent/list-machines", "", failed, 0},
        {"prints nothing", "true", "", "", 0},
        {"prints nothing and fails", "false", "", failed, 0},
        // Would otherwise read the user's keys from the raw terminal and never finish.
        {"reads its input", "cat", "", "", 0},
        {"reads its input in a pipeline", "cat | sort", "", "", 0},
        {"100 MB of names", "yes n.invalid | head -c 100000000", "", "", 256},
        {"100 MB in one word", "head -c 100000000 /dev/zero | tr '\\0' x", "", "", 0},
    };
    for (const BrokenCommand &c : cases) {
        SCOPED_TRACE(c.what);
        QuillorSession q({}, 25, 80, {"QUILLOR_AT_COMMAND=" + c.command});
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        const auto start = Clock::now();
        ASSERT_NO_FATAL_FAILURE(add_and_settle(q, "@" + c.rest, c.error));
        const long long ms = ms_since(start);
        EXPECT_EQ(q.list_count(), std::min(c.added, 22)) << q.dump();
        if (c.added > 22) {
            std::string moves;
            for (int i = 0; i < 300; ++i) moves += keys::F3;
            q.send(moves);
            EXPECT_TRUE(q.wait_for(
                [&](const ScreenReader &) {
                    return q.list_cell(21).bg == 1 && q.list_row(0) == " n.invali ";
                },
                30000))
                << q.dump();
        }
        std::printf("QUILLOR_AT_COMMAND %s: %lld ms\n", c.what, ms);
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
}

// One machine floods its terminal with output while another is typed into: each command typed shows
// its answer within a bound, and the flooding machine still takes Ctrl-C and the next command.
TEST_F(E2eReliabilityInput, FloodingMachineLeavesTypingResponsive)
{
    constexpr long long kBoundMs = 2000;
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add(sshd->add_name(1), 1)) << q.dump();
    ASSERT_TRUE(q.add(sshd->add_name(2), 2)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("yes FLOOD_$((1+1))\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        const std::string text = q.terminal_text();
        return text.find("FLOOD_2") != text.rfind("FLOOD_2");
    })) << q.dump();

    ASSERT_TRUE(q.select(1));
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    long long worst = 0;
    for (int k = 1; k <= 5; ++k) {
        const std::string answer = "T_" + std::to_string(100 + k);
        const auto start = Clock::now();
        q.send("echo T_$((100+" + std::to_string(k) + "))\r");
        ASSERT_TRUE(q.terminal_shows(answer)) << q.dump();
        const long long ms = ms_since(start);
        worst = std::max(worst, ms);
        EXPECT_LE(ms, kBoundMs) << answer;
    }
    std::printf("typing beside a flood: slowest echo %lld ms\n", worst);

    ASSERT_TRUE(q.select(0));
    q.send(keys::CtrlC);
    q.send("echo STOP_$((3+4))\r");
    ASSERT_TRUE(q.terminal_shows("STOP_7")) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
