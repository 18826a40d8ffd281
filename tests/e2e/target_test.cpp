// Naming machines on real logins: tagging by pattern, going to a machine by name, each machine typing its
// own name in multicast, and one line for the selected machine alone while multicast is on.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the menu's command `key`; true once `shown` is on the screen.
bool menu(QuillorSession &q, const std::string &key, const std::string &shown)
{
    q.send(keys::F1);
    if (!q.wait_for_text("Select an option: ")) return false;
    q.send(key);
    return q.wait_for_text(shown);
}

bool says(QuillorSession &q, const std::string &note)
{
    return q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(note, 0) == 0; });
}

bool tagged_are(QuillorSession &q, const std::vector<int> &rows)
{
    return q.wait_for([&](const ScreenReader &) {
        std::vector<int> now;
        for (int i = 0; i < q.list_count(); ++i)
            if (q.list_row(i)[0] == '*') now.push_back(i);
        return now == rows;
    });
}

bool selected_is(QuillorSession &q, int row)
{
    return q.wait_for([&](const ScreenReader &) { return q.list_cell(row).bg == 1; });
}

// The machines' list names are "-F <config> h<i>", and their hosts "h<i>".
TEST(E2eTarget, PatternsTagAndGoToNamesAreTypedAndOneLineReachesOneMachine)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 4));

    ASSERT_TRUE(menu(q, "m", "Tag matching: ")) << q.dump();
    q.send("*h[2-4]\r");
    ASSERT_TRUE(says(q, "3 tagged")) << q.dump();
    ASSERT_TRUE(tagged_are(q, {1, 2, 3})) << q.dump();
    ASSERT_TRUE(menu(q, "m", "Tag matching: ")) << q.dump();
    q.send("!*h3\r");
    ASSERT_TRUE(says(q, "1 untagged")) << q.dump();
    ASSERT_TRUE(tagged_are(q, {1, 3})) << q.dump();
    ASSERT_TRUE(menu(q, "m", "Tag matching: ")) << q.dump();
    q.send("web*\r");
    ASSERT_TRUE(says(q, "no machine matches")) << q.dump();

    // Round the list from the selection; Enter alone looks again.
    ASSERT_TRUE(menu(q, "g", "Go to: ")) << q.dump();
    q.send("*h[1,3]\r");
    ASSERT_TRUE(selected_is(q, 2)) << q.dump();
    ASSERT_TRUE(menu(q, "g", "Go to: ")) << q.dump();
    q.send("\r");
    ASSERT_TRUE(selected_is(q, 0)) << q.dump();

    // In multicast each tagged machine gets its own name and host, as typed: the command line shows them
    // as they are and the shell's output in capitals.
    q.send(keys::F7);
    ASSERT_TRUE(q.wait_for_text("MULTICAST")) << q.dump();
    q.send("echo ");
    ASSERT_TRUE(menu(q, "n", "MULTICAST")) << q.dump();
    q.send(" @ ");
    ASSERT_TRUE(menu(q, "N", "MULTICAST")) << q.dump();
    q.send(" | tr a-z A-Z\r");
    for (int i : {1, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        const std::string host = "H" + std::to_string(i + 1);
        ASSERT_TRUE(q.terminal_shows("SSH_CONFIG " + host + " @ " + host)) << q.dump();
    }

    // One line to the untagged selected machine: the tagged ones never see it.
    ASSERT_TRUE(q.select(0)) << q.dump();
    ASSERT_TRUE(menu(q, "l", "To -F ")) << q.dump();
    q.send("echo ONE_$((3*3))\r");
    ASSERT_TRUE(q.terminal_shows("ONE_9")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("SSH_CONFIG"), std::string::npos) << q.dump();
    for (int i : {1, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        EXPECT_EQ(q.terminal_text().find("ONE_"), std::string::npos) << q.dump();
    }
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
