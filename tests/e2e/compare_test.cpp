// Comparing the machines' answers to a multicast command on real logins: equal answers group under one
// host range whatever each machine's own name, the odd one stands out in the view and in the list, a
// machine still running its command is listed apart until it answers, and nothing reaches a machine.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

const std::string kDown = "\x1bOB";

// The aliases of the private sshd all reach one host: what sets a machine apart is what it was told on
// its own. Tags machine i and runs `setup[i]` on it alone, then turns multicast on.
void prepare(QuillorSession &q, const std::vector<std::string> &setup)
{
    for (int i = 0; i < static_cast<int>(setup.size()); ++i) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        q.send(keys::F4 + setup[i] + "; echo SET_$((" + std::to_string(i) + "+100))\r");
        ASSERT_TRUE(q.terminal_shows("SET_" + std::to_string(i + 100))) << q.dump();
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_row(i)[0] == '*'; })) << q.dump();
    }
    q.send(keys::F7);
    ASSERT_TRUE(q.wait_for_text("MULTICAST")) << q.dump();
}

// What the user types at "Add: " for host i, less the number: the machines' names differ only there.
std::string name_stem()
{
    std::string name = shared_sshd()->add_name(1);
    name.pop_back();
    return name;
}

// The terminal panel's row that starts with `text`, or -1.
int panel_row(const QuillorSession &q, const std::string &text)
{
    for (int r = 1; r <= q.rows() - 3; ++r)
        if (screen_cells(q.screen(), r, q.term_x(), q.cols()).rfind(text, 0) == 0) return r;
    return -1;
}

bool view_says(QuillorSession &q, const std::string &status)
{
    return q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(status, 0) == 0; }, 20000);
}

bool open_view(QuillorSession &q, const std::string &status)
{
    q.send(keys::F1);
    if (!q.wait_for_text("Select an option: ")) return false;
    q.send("c");
    return view_says(q, status);
}

bool view_closed(QuillorSession &q)
{
    return q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("compare:", 0) != 0; });
}

// Which list rows carry the mark of an odd answer in their last column.
std::vector<int> marked(const QuillorSession &q)
{
    std::vector<int> rows;
    for (int i = 0; i < q.list_count(); ++i)
        if (q.list_row(i).back() == '!') rows.push_back(i);
    return rows;
}

bool marks_are(QuillorSession &q, const std::vector<int> &rows)
{
    return q.wait_for([&](const ScreenReader &) { return marked(q) == rows; });
}

// Four machines print their own name and a number, the third a number of its own: the names do not split
// the other three, and the third stands out. The screen is wide enough for a long temporary directory in
// the names the view shows.
TEST(E2eCompare, EqualAnswersGroupAndTheOddMachineStandsOut)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 4));
    ASSERT_NO_FATAL_FAILURE(prepare(q, {"N=h1", "N=h2", "N=h3 ODD=1", "N=h4"}));
    q.send("echo \"$N v$((ODD+1))\"; echo END_$((6*7))\r");
    for (int i : {0, 1, 2, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("END_42")) << "machine " << i << q.dump();
    }
    ASSERT_TRUE(q.terminal_shows("h4 v1")) << q.dump();
    ASSERT_TRUE(marks_are(q, {2})) << q.dump();
    const std::string panel = q.terminal_text();

    // The large group first, under its range of names and selected; the odd machine alone, in red.
    ASSERT_TRUE(open_view(q, "compare: 2 groups, 0 printing")) << q.dump();
    const std::string stem = name_stem();
    const int large = panel_row(q, "3  " + stem + "[1-2,4] ");
    const int odd = panel_row(q, "1  " + stem + "3 ");
    ASSERT_GT(large, 0) << q.dump();
    ASSERT_GT(odd, large) << q.dump();
    EXPECT_EQ(panel_row(q, "    <host> v1"), large + 1) << q.dump();
    EXPECT_EQ(panel_row(q, "    <host> v2"), odd + 1) << q.dump();
    EXPECT_EQ(panel_row(q, "still printing"), -1) << q.dump();
    EXPECT_TRUE(has_colours(q.screen().cell(large, q.term_x()), 7, 4, true)) << q.dump();
    EXPECT_TRUE(has_colours(q.screen().cell(odd, q.term_x()), 1, 0, true)) << q.dump();

    // Escape and q both close the view and leave the panel as it was: what was typed into the view
    // reached no machine (it would stand on the prompt's line).
    for (const std::string &key : {keys::Escape, std::string("q")}) {
        if (key == "q") {
            ASSERT_TRUE(open_view(q, "compare: 2 groups")) << q.dump();
        }
        q.send("echo LEAK");
        q.send(key);
        ASSERT_TRUE(view_closed(q)) << q.dump();
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.terminal_text() == panel; })) << q.dump();
        EXPECT_EQ(marked(q), std::vector<int>{2}) << q.dump();
    }

    // Enter on the odd group selects its machine and closes the view.
    ASSERT_TRUE(open_view(q, "compare: 2 groups")) << q.dump();
    q.send(kDown);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return has_colours(s.cell(odd, q.term_x()), 7, 4, true);
    })) << q.dump();
    q.send(keys::Enter);
    ASSERT_TRUE(view_closed(q)) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_cell(2).bg == 1; })) << q.dump();
    EXPECT_NE(q.list_cell(3).bg, 1) << q.dump();
    ASSERT_TRUE(q.terminal_shows("h3 v2")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("LEAK"), std::string::npos) << q.dump();

    // The next command in multicast, answered alike by all, takes the mark away.
    q.send("echo AGAIN_$((7*7))\r");
    ASSERT_TRUE(q.terminal_shows("AGAIN_49")) << q.dump();
    EXPECT_TRUE(marks_are(q, {})) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// One machine waits for a file before it answers: it is listed as still printing, is not taken for an
// odd one, and the open view takes its answer in as it comes.
TEST(E2eCompare, ViewFollowsAMachineThatAnswersLate)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string gate = dir.path + "/go";
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 3));
    ASSERT_NO_FATAL_FAILURE(prepare(q, {"N=h1 W=/", "N=h2 W=" + gate, "N=h3 W=/"}));
    q.send("until [ -e $W ]; do sleep .1; done; echo $N ok\r");
    for (int i : {0, 2}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("h" + std::to_string(i + 1) + " ok")) << q.dump();
    }

    ASSERT_TRUE(open_view(q, "compare: 1 group, 1 printing")) << q.dump();
    const std::string stem = name_stem();
    EXPECT_GT(panel_row(q, "2  " + stem + "[1,3] "), 0) << q.dump();
    EXPECT_GT(panel_row(q, "    <host> ok"), 0) << q.dump();
    EXPECT_GT(panel_row(q, "still printing: " + stem + "2 "), 0) << q.dump();
    EXPECT_TRUE(marked(q).empty()) << q.dump();

    // No key: the view notices the answer by itself.
    dir.write("go", "");
    ASSERT_TRUE(view_says(q, "compare: 1 group, 0 printing")) << q.dump();
    EXPECT_GT(panel_row(q, "3  " + stem + "[1-3] "), 0) << q.dump();
    EXPECT_EQ(panel_row(q, "still printing"), -1) << q.dump();
    q.send("q");
    ASSERT_TRUE(view_closed(q)) << q.dump();
    EXPECT_TRUE(marked(q).empty()) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// A long answer shows its first lines and how many more there are; Space shows it whole, and again
// its first lines.
TEST(E2eCompare, SpaceShowsTheChosenGroupsWholeAnswer)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 2));
    ASSERT_NO_FATAL_FAILURE(prepare(q, {"true", "true"}));
    q.send("seq 101 109\r");
    ASSERT_TRUE(open_view(q, "compare: 1 group, 0 printing")) << q.dump();
    const int head = panel_row(q, "2  ");
    ASSERT_GT(head, 0) << q.dump();
    EXPECT_EQ(panel_row(q, "    104"), head + 4) << q.dump();
    EXPECT_EQ(panel_row(q, "    ... 5 more lines"), head + 5) << q.dump();
    q.send(" ");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return panel_row(q, "    109") == head + 9; }))
        << q.dump();
    EXPECT_EQ(panel_row(q, "    ..."), -1) << q.dump();
    q.send(" ");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return panel_row(q, "    ... 5 more lines") == head + 5;
    })) << q.dump();
    EXPECT_EQ(panel_row(q, "    109"), -1) << q.dump();
    q.send("q");
    ASSERT_TRUE(view_closed(q)) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// A line as wide as the terminal panel shows whole in the view (the rest of it on the next row, not cut
// off), the odd group says from which line on it differs and shows its first differing character
// reversed; and what a machine prints or a name holds that could reorder the user's screen (a bidi
// override) never reaches the user's terminal, from the view as from the panels.
TEST(E2eCompare, WideLinesShowWholeWithWhereGroupsDifferAndNothingReordersTheScreen)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 2));
    ASSERT_NO_FATAL_FAILURE(prepare(q, {"d=ab", "d=cd"}));
    const std::string rlo = "\xe2\x80\xae"; // U+202E, right-to-left override
    q.send(keys::F1 + "r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Enter new", 0) == 0; }))
        << q.dump();
    q.send("x" + rlo + "y\r");
    q.send("printf \"%078d$d\\n\" 0; printf '\\342\\200\\256rtl\\n'; echo E_$((1+2))\r");
    for (int i : {0, 1}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("E_3")) << q.dump();
    }
    ASSERT_TRUE(open_view(q, "compare: 2 groups, 0 printing")) << q.dump();
    const int odd = panel_row(q, "1  xy  (differs from line 1)");
    ASSERT_GT(odd, 0) << q.dump();
    EXPECT_EQ(panel_row(q, "    " + std::string(76, '0')), 2) << q.dump();
    EXPECT_EQ(panel_row(q, "    00ab "), 3) << q.dump();
    EXPECT_EQ(panel_row(q, "    00cd "), odd + 2) << q.dump();
    EXPECT_TRUE(q.screen().cell(odd + 2, q.term_x() + 6).reverse) << q.dump();
    EXPECT_FALSE(q.screen().cell(odd + 2, q.term_x() + 5).reverse) << q.dump();
    EXPECT_EQ(panel_row(q, "    rtl "), 4) << q.dump();
    EXPECT_EQ(screen_cells(q.screen(), odd + 3, q.term_x(), q.cols()).rfind("    rtl ", 0), 0u) << q.dump();
    q.send("q");
    ASSERT_TRUE(view_closed(q)) << q.dump();
    EXPECT_EQ(q.program_output().find(rlo), std::string::npos);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Three machines answer alike, the third differently. In the view, t tags a group alone and T adds one;
// t on the odd group, then Enter, leaves multicast on for that machine alone, and says so: the next
// command reaches it and no other.
TEST(E2eCompare, TaggingTheOddGroupLeavesTheNextCommandToItAlone)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 4));
    ASSERT_NO_FATAL_FAILURE(prepare(q, {"V=1", "V=1", "V=2", "V=1"}));
    q.send("echo v$V; echo END_$((6*7))\r");
    for (int i : {0, 1, 2, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("END_42")) << "machine " << i << q.dump();
    }
    const std::string stem = name_stem();
    ASSERT_TRUE(open_view(q, "compare: 2 groups, 0 printing")) << q.dump();
    q.send("t");
    ASSERT_TRUE(view_says(q, "compare: tagged 3, untagged the rest: " + stem + "[1-2,4]")) << q.dump();
    ASSERT_TRUE(tagged_rows_are(q, {0, 1, 3})) << q.dump();
    q.send(kDown + "T");
    ASSERT_TRUE(view_says(q, "compare: tagged 1 more, 4 in all: " + stem + "3")) << q.dump();
    ASSERT_TRUE(tagged_rows_are(q, {0, 1, 2, 3})) << q.dump();
    q.send("t");
    ASSERT_TRUE(view_says(q, "compare: tagged 1, untagged the rest: " + stem + "3")) << q.dump();
    ASSERT_TRUE(tagged_rows_are(q, {2})) << q.dump();

    q.send(keys::Enter);
    ASSERT_TRUE(view_closed(q)) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Multicast is on: keys go to 1 tagged machine ", 0) == 0;
    })) << q.dump();
    q.send("echo FIX_$((5*5))\r");
    ASSERT_TRUE(q.select(2)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("FIX_25")) << q.dump();
    for (int i : {0, 1, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        EXPECT_EQ(q.terminal_text().find("FIX_"), std::string::npos) << "machine " << i << q.dump();
    }
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
