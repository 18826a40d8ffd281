// Machines whose ssh ended: the line that says how, and starting them again from the menu.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Opens the menu and presses one of its keys.
void menu(QuillorSession &q, const std::string &key)
{
    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    q.send(key);
}

// A machine's own "exit 3" and a name that does not resolve (ssh's 255) are each told on the machine's
// screen, after what ssh printed, and in the summary column too.
TEST(E2eReconnect, ExitLineTellsHowSshEnded)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({"--", sshd->add_name(1), "nonexistent.invalid"}, 25, 100);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("exit 3\r");
    ASSERT_TRUE(q.terminal_shows("[ssh exited with status 3]")) << q.dump();
    // Still in the dead machine's colours: bold black on the selection's red.
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) { return has_colours(q.list_cell(0), 0, 1, true); }))
        << q.dump();

    ASSERT_TRUE(q.select(1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("[ssh exited with status 255]")) << q.dump();
    const std::string text = q.terminal_text();
    EXPECT_LT(text.find("nonexistent.invalid"), text.find("[ssh exited")) << q.dump();
    EXPECT_NE(screen_cells(q.screen(), 2, 10, q.sep_x()).find("255]"), std::string::npos) << q.dump();
}

// A machine that logged out comes back in its place with its tag and shown name, logged in again
// over its original connection on a fresh screen; the live machine beside it is left alone.
TEST(E2eReconnect, ReconnectAfterExitKeepsPlaceTagAndConnection)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({"--", sshd->add_name(1), sshd->add_name(2)}, 25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("echo LIVE_$((1+1))\r");
    ASSERT_TRUE(q.terminal_shows("LIVE_2")) << q.dump();

    ASSERT_TRUE(q.select(1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send(keys::F4);
    ASSERT_NO_FATAL_FAILURE(menu(q, "r"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Enter new machine name: ", 0) == 0;
    })) << q.dump();
    q.send("renamed" + keys::Enter);
    q.send("exit\r");
    ASSERT_TRUE(q.terminal_shows("[ssh exited with status 0]")) << q.dump();
    // Tagged, selected and dead: plain green on red; alive again it turns bold.
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return has_colours(q.list_cell(1), 2, 1, false); }))
        << q.dump();

    ASSERT_NO_FATAL_FAILURE(menu(q, "R"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return has_colours(q.list_cell(1), 2, 1, true) && q.terminal_text().find("[ssh") == std::string::npos;
    })) << q.dump();
    EXPECT_EQ(q.list_row(1), "*renamed  ");
    EXPECT_EQ(q.list_count(), 2);
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("echo BACK_$((6*7))\r");
    EXPECT_TRUE(q.terminal_shows("BACK_42")) << q.dump();

    // The first machine's shell is the one it had.
    ASSERT_TRUE(q.select(0)) << q.dump();
    EXPECT_TRUE(q.terminal_shows("LIVE_2")) << q.dump();
    EXPECT_EQ(q.quit(), 0);
}

} // namespace
