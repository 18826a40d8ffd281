// Answers to a multicast command: what counts as the answer, grouping, and the machines' marks.
#include "machines/compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"

namespace {

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
        if (mlist_multicast()) mlist_toggle_multicast();
        mlist_delete_all();
        delwin(win_);
        reap_children(3000);
    }
    CursesScreen screen_{25, 80};
    WINDOW *win_ = nullptr;
};

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
    mlist_send_text("uname -a\r");
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
    for (int i = 0; i < 5; ++i) EXPECT_EQ(mlist_machine(i)->odd_answer, i == 3 ? 1 : 0) << i;

    // Singlecast typing leaves the answers alone; the next multicast Enter starts new ones.
    mlist_toggle_multicast();
    mlist_send_text("\r");
    EXPECT_EQ(mlist_machine(3)->odd_answer, 1);
    mlist_toggle_multicast();
    mlist_send_text("x");
    EXPECT_EQ(mlist_machine(3)->odd_answer, 1);
    mlist_send_text("\r");
    EXPECT_EQ(mlist_machine(3)->odd_answer, 0);
}

} // namespace
