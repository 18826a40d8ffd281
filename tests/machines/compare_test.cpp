// Answers to a multicast command: what counts as the answer, grouping, and the machines' marks.
#include "machines/compare.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "machines/history.h"
#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"

namespace {

// Sends the bytes as the main loop sends what was typed: an Enter in multicast starts new answers.
void typed(const std::string &bytes)
{
    compare_note_sent(bytes);
    mlist_send_text(bytes);
}

TEST(Compare, AnswerLeavesOutCommandPromptNamesAndTrailingBlanks)
{
    const std::vector<std::string> names{"web3", "web3.example.com"};
    CompareAnswer a = compare_answer("web3$ uname -a\nLinux web3.example.com 6.1   \nup\n\nweb3$ \n", names);
    EXPECT_TRUE(a.done);
    EXPECT_EQ(a.text, "Linux <host> 6.1\nup\n");
    // No prompt yet: the last line is part of the answer so far.
    a = compare_answer("web3$ sleep 5; date\nstarting\n", names);
    EXPECT_FALSE(a.done);
    EXPECT_EQ(a.text, "starting\n");
    // Only the command's line: nothing answered yet.
    EXPECT_FALSE(compare_answer("web3$ make\n\n\n", names).done);
    EXPECT_FALSE(compare_answer("", names).done);
    // A command printing nothing still ends with the prompt.
    a = compare_answer("web3$ true\nweb3$\n", names);
    EXPECT_TRUE(a.done);
    EXPECT_EQ(a.text, "");
}

// Names are found wherever they stand in a line: at its start and end, across the places where the
// search takes sixteen bytes at a time, after a first byte that repeats, and a one-letter name too.
TEST(Compare, NamesAreFoundAtEveryPlaceInALine)
{
    for (size_t at = 0; at + 4 <= 40; ++at) {
        std::string line = std::string(at, 'w') + "web3" + std::string(36 - at, 'e');
        std::string want = std::string(at, 'w') + "<host>" + std::string(36 - at, 'e');
        EXPECT_EQ(compare_answer("$ cmd\n" + line + "\n$\n", {"web3"}).text, want + "\n") << at;
    }
    EXPECT_EQ(compare_answer("$ cmd\nweb3web3 we web\n", {"web3", "w"}).text,
              "<host><host> <host>e <host>eb\n");
}

TEST(Compare, GroupsEqualTextsLargestFirst)
{
    auto groups = compare_group({"b\n", "a\n", "a\n", "c\n", "b\n", "a\n"});
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0], (std::vector<int>{1, 2, 5}));
    EXPECT_EQ(groups[1], (std::vector<int>{0, 4}));
    EXPECT_EQ(groups[2], (std::vector<int>{3}));
    EXPECT_TRUE(compare_group({}).empty());
}

TEST(Compare, NamesComeFromTheListNameAndTheConnectionsHost)
{
    Machine m;
    m.name = "front";
    m.connection = "-p 2222 -4 admin@web3.example.com";
    EXPECT_EQ(compare_names(m), (std::vector<std::string>{"front", "web3.example.com", "web3"}));
    m.connection = "10.0.0.7";
    EXPECT_EQ(compare_names(m), (std::vector<std::string>{"front", "10.0.0.7"}));
}

class CompareList : public ::testing::Test {
protected:
    void SetUp() override
    {
        win_ = newwin(10, 10, 1, 0);
        mlist_init(win_, 5, 30);
    }
    void TearDown() override
    {
        mlist_set_history_lines(kDefaultHistoryLines);
        if (mlist_multicast()) mlist_toggle_multicast();
        mlist_delete_all();
        delwin(win_);
        reap_children(3000);
    }
    // Machines m0..m<n-1> whose ssh printed its version and ended: their screens are ours to write on.
    void add_machines(int n)
    {
        for (int i = 0; i < n; ++i) mlist_add("-V m" + std::to_string(i));
        for (int i = 0; i < n; ++i) {
            TarvikVt *vt = mlist_machine(i)->term.get();
            ASSERT_TRUE(vt_pump_until(vt, [&] { return !vt_screen_text(vt).empty(); }));
        }
    }
    CursesScreen screen_{25, 80};
    WINDOW *win_ = nullptr;
};

// What compare_state says, against each answer read whole from the machine's history and screen.
void expect_as_read_whole()
{
    CompareState state = compare_state();
    std::vector<int> answered, printing;
    std::vector<std::string> texts;
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        if (!m->answer.answering) continue;
        CompareAnswer whole =
            compare_answer(history_text_since(m->history, m->term.get(), m->answer.mark), compare_names(*m));
        if (!whole.done && m->alive) {
            printing.push_back(i);
        } else {
            answered.push_back(i);
            texts.push_back(whole.text);
        }
    }
    EXPECT_EQ(state.printing, printing);
    auto groups = compare_group(texts);
    ASSERT_EQ(state.groups.size(), groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<int> machines;
        for (int k : groups[g]) machines.push_back(answered[static_cast<size_t>(k)]);
        EXPECT_EQ(state.groups[g].machines, machines) << g;
        EXPECT_EQ(state.groups[g].text, texts[static_cast<size_t>(groups[g].front())]) << g;
    }
}

// "ssh -V" prints one line and exits: each machine's screen is then ours to write on.
TEST_F(CompareList, OddMachineStandsOutUntilTheNextMulticastEnter)
{
    for (int i = 0; i < 5; ++i) mlist_add("-V m" + std::to_string(i));
    for (int i = 0; i < 5; ++i) {
        TarvikVt *vt = mlist_machine(i)->term.get();
        ASSERT_TRUE(vt_pump_until(vt, [&] { return !vt_screen_text(vt).empty(); }));
        vt_feed_output(vt, "\r\nm" + std::to_string(i) + "$ ");
    }
    mlist_tag_all(false);
    mlist_toggle_multicast();
    typed("uname -a\r");
    // More lines than the screen holds: the answer runs through the history.
    for (int i = 0; i < 5; ++i) {
        std::string me = "m" + std::to_string(i);
        std::string out = "uname -a\r\n";
        for (int k = 0; k < 6; ++k)
            out += "Linux " + me + " 6." + (i == 3 ? "2" : "1") + " line " + std::to_string(k) + "\r\n";
        if (i != 4) out += me + "$ ";
        vt_feed_output(mlist_machine(i)->term.get(), out);
    }
    CompareState state = compare_state();
    ASSERT_EQ(state.groups.size(), 2u);
    EXPECT_EQ(state.groups[0].machines, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(state.groups[0].text.substr(0, 25), "Linux <host> 6.1 line 0\nL");
    EXPECT_EQ(state.groups[1].machines, (std::vector<int>{3}));
    EXPECT_EQ(state.printing, (std::vector<int>{4}));
    EXPECT_FALSE(state.clipped);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(mlist_machine(i)->answer.odd, i == 3) << i;
    // The view asks for the first lines only, and learns how long the answer is.
    state = compare_state(2);
    EXPECT_EQ(state.groups[1].text, "Linux <host> 6.2 line 0\nLinux <host> 6.2 line 1\n");
    EXPECT_EQ(state.groups[1].lines, 6u);

    // Singlecast typing leaves the answers alone; the next multicast Enter starts new ones.
    mlist_toggle_multicast();
    typed("\r");
    EXPECT_TRUE(mlist_machine(3)->answer.odd);
    mlist_toggle_multicast();
    typed("x");
    EXPECT_TRUE(mlist_machine(3)->answer.odd);
    // Ctrl-J is an Enter for a shell too.
    typed("\n");
    EXPECT_FALSE(mlist_machine(3)->answer.odd);
}

// A command wider than the terminal wraps onto more rows: its line is every row it takes, whether its
// echo came before Enter went out (the cursor on its last row) or after (a paste: the mark on the prompt's
// row). The answer leaves all of it out, and is done once the prompt is back.
TEST_F(CompareList, AWrappedCommandLineIsLeftOutAndItsAnswerEnds)
{
    ASSERT_NO_FATAL_FAILURE(add_machines(2));
    mlist_tag_all(false);
    mlist_toggle_multicast();
    const std::string command = "echo " + std::string(40, 'a') + " | wc -c";
    // A short answer, with the command's rows still on the screen; a long one, with them in the history.
    for (const std::string &answer : {std::string("41\n"), std::string("1\n2\n3\n4\n5\n6\n7\n")}) {
        SCOPED_TRACE(answer.size());
        std::string out;
        for (char c : answer) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        vt_feed_output(mlist_machine(0)->term.get(), "\r\nm0$ " + command);
        vt_feed_output(mlist_machine(1)->term.get(), "\r\nm1$ ");
        typed("\r");
        vt_feed_output(mlist_machine(0)->term.get(), "\r\n" + out + "m0$ ");
        vt_feed_output(mlist_machine(1)->term.get(), command + "\r\n" + out + "m1$ ");
        CompareState state = compare_state();
        ASSERT_EQ(state.groups.size(), 1u);
        EXPECT_EQ(state.groups[0].machines, (std::vector<int>{0, 1}));
        EXPECT_EQ(state.groups[0].text, answer);
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(mlist_machine(i)->answer.cache.done) << i;
    }
}

// The answers are read a piece at a time, as the list reads them while machines print: lines scroll,
// wrap, are cleared, coloured and renamed on the way, and each reading must say what reading every
// answer whole would.
TEST_F(CompareList, AnswersReadAsTheyArriveEqualAnswersReadWhole)
{
    ASSERT_NO_FATAL_FAILURE(add_machines(4));
    mlist_tag_all(false);
    mlist_toggle_multicast();
    std::mt19937 rng(20261209);
    for (int round = 0; round < 12; ++round) {
        std::string command = "cmd" + std::to_string(round);
        typed(command + "\r");
        for (int i = 0; i < 4; ++i) vt_feed_output(mlist_machine(i)->term.get(), command + "\r\n");
        for (int step = 0; step < 40; ++step) {
            int i = static_cast<int>(rng() % 4);
            Machine *m = mlist_machine(i);
            std::string me = "m" + std::to_string(i), out;
            switch (rng() % 10) {
            case 0: out = "line " + std::to_string(rng() % 3) + "\r\n"; break;
            case 1: out = "on " + me + " and " + me + ".example ok\r\n"; break;
            case 2: out = "\r\n"; break;
            case 3: out = "blanks after   \r\n"; break;
            case 4: out = me + "$ "; break;
            case 5: out = std::string(45, static_cast<char>('a' + rng() % 3)) + "\r\n"; break;
            case 6: out = rng() % 4 ? "\x1b[31mred\x1b[0m \xc3\xa9 \xe6\xbc\xa2\r\n" : "\x1b[2J\x1b[H"; break;
            case 7: out = "m1 m12 " + me + "\r\n"; break;
            case 8: machine_rename(m, rng() % 2 ? "r" + std::to_string(i) : me); break;
            default: out = me + "$ " + command + "\r\n"; break;
            }
            vt_feed_output(m->term.get(), out);
            if (rng() % 3 == 0) {
                SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
                ASSERT_NO_FATAL_FAILURE(expect_as_read_whole());
            }
        }
        ASSERT_NO_FATAL_FAILURE(expect_as_read_whole());
    }
}

// Far more lines than the history keeps: the answers are compared on the kept lines, the view is told,
// and the numbers of lines gone are given to new lines without mixing two texts up.
TEST_F(CompareList, LongAnswersAreComparedOnWhatTheHistoryKeeps)
{
    mlist_set_history_lines(3);
    ASSERT_NO_FATAL_FAILURE(add_machines(3));
    for (int i = 0; i < 3; ++i) vt_feed_output(mlist_machine(i)->term.get(), "\r\n$ ");
    mlist_tag_all(false);
    mlist_toggle_multicast();
    typed("seq\r");
    for (int from = 0; from < 12000; from += 400) {
        for (int i = 0; i < 3; ++i) {
            std::string out = from == 0 ? "seq\r\n" : "";
            for (int k = from; k < from + 400; ++k) out += "n" + std::to_string(k) + "\r\n";
            vt_feed_output(mlist_machine(i)->term.get(), out);
        }
        CompareState state = compare_state();
        ASSERT_EQ(state.printing.size(), 3u);
    }
    for (int i = 0; i < 3; ++i) vt_feed_output(mlist_machine(i)->term.get(), i == 2 ? "end\r\n$ " : "$ ");
    CompareState state = compare_state();
    EXPECT_TRUE(state.clipped);
    ASSERT_EQ(state.groups.size(), 2u);
    EXPECT_EQ(state.groups[0].machines, (std::vector<int>{0, 1}));
    // Three lines in the history, and the four screen rows above the prompt.
    EXPECT_EQ(state.groups[0].text, "n11993\nn11994\nn11995\nn11996\nn11997\nn11998\nn11999\n");
    EXPECT_EQ(state.groups[1].text, "n11994\nn11995\nn11996\nn11997\nn11998\nn11999\nend\n");
}

} // namespace
