// Naming machines on real logins, whose list names are "-F <config> h<i>" and hosts "h<i>": tagging by
// pattern, going to a machine by name, each machine typing its own name in multicast, and one line for
// the selected machine alone while multicast is on.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs the menu's command `key`, types `text` at its prompt, and waits for the bottom line to begin with
// `note`.
bool command(QuillorSession &q, const std::string &key, const std::string &text, const std::string &note)
{
    q.send(keys::F1);
    if (!q.wait_for_text("Select an option: ")) return false;
    q.send(key + text);
    return q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(note, 0) == 0; });
}

TEST(E2eTarget, PatternsTagAndGoToNamesAreTypedAndOneLineReachesOneMachine)
{
    QuillorSession q({}, 25, 100);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 4));
    ASSERT_TRUE(command(q, "m", "web*\r", "no machine matches")) << q.dump();
    ASSERT_TRUE(command(q, "m", "*h[2,4]\r", "2 tagged")) << q.dump();
    ASSERT_TRUE(tagged_rows_are(q, {1, 3})) << q.dump();

    // Round the list from the selection; Enter alone looks again.
    ASSERT_TRUE(command(q, "g", "*h[1,3]\r", " ")) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_cell(2).bg == 1; })) << q.dump();
    ASSERT_TRUE(command(q, "g", "\r", " ")) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_cell(0).bg == 1; })) << q.dump();

    // Each tagged machine gets its own name and host as typed: the shell's output shows them in capitals.
    q.send(keys::F7 + "echo " + keys::F1 + "n @ " + keys::F1 + "N | tr a-z A-Z\r");
    for (int i : {1, 3}) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        const std::string host = "H" + std::to_string(i + 1);
        ASSERT_TRUE(q.terminal_shows("SSH_CONFIG " + host + " @ " + host)) << q.dump();
    }

    // One line to the untagged selected machine: the tagged ones never see it.
    ASSERT_TRUE(q.select(0)) << q.dump();
    ASSERT_TRUE(command(q, "l", "", "To -F ")) << q.dump();
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
