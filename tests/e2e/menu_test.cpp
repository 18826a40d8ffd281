// The F1 menu on a running session: help, rename, deleting the dead machines, and quitting.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool menu_open(const QuillorSession &q)
{
    return q.screen().all_text().find("[ Menu ]") != std::string::npos;
}

// Opens the menu and presses one of its keys.
void menu(QuillorSession &q, const std::string &key)
{
    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return menu_open(q) && s.all_text().find("Select an option: ") != std::string::npos;
    })) << q.dump();
    q.send(key);
}

void log_into_h1(QuillorSession &q)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add(sshd->add_name(1), 1)) << q.dump();
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
}

TEST(E2eMenu, HelpRenameAndDeleteDeadKeepTheLiveConnection)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_h1(q));
    ASSERT_TRUE(q.add("a.invalid", 2)) << q.dump();
    ASSERT_TRUE(q.add("b.invalid", 3)) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return has_colours(q.list_cell(1), 0, 0, true) && has_colours(q.list_cell(2), 0, 0, true);
    })) << q.dump();

    // The key that closes the help closes the menu with it and reaches no machine; the full redraw
    // afterwards puts back the frame and the terminal the popups covered.
    ASSERT_NO_FATAL_FAILURE(menu(q, "h"));
    ASSERT_TRUE(q.wait_for_text("[ Help ]")) << q.dump();
    q.send("q");
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return s.all_text().find("[ Help ]") == std::string::npos && !menu_open(q) &&
               s.cell(12, q.sep_x()).text == "\u2502" &&
               s.row_text(23).find("F7:mcast") != std::string::npos && q.list_count() == 3;
    })) << q.dump();
    q.send("echo HL_$((1+1))\r");
    ASSERT_TRUE(q.terminal_shows("HL_2")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("qecho"), std::string::npos) << q.dump();

    ASSERT_NO_FATAL_FAILURE(menu(q, "r"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Enter new machine name: ", 0) == 0;
    })) << q.dump();
    EXPECT_TRUE(has_colours(q.minibuf_cell(0), 1, 0, true));
    q.send("live1" + keys::Enter);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_row(0) == " live1    "; })) << q.dump();
    // Only the name changed: the same shell still answers.
    q.send("echo RN_$((6*7))\r");
    EXPECT_TRUE(q.terminal_shows("RN_42")) << q.dump();

    ASSERT_NO_FATAL_FAILURE(menu(q, "z"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 1 && !menu_open(q); }))
        << q.dump();
    EXPECT_EQ(q.list_row(0), " live1    ");
    EXPECT_TRUE(has_colours(q.list_cell(0), 7, 1, false));
    q.send("echo ZZ_$((9*9))\r");
    EXPECT_TRUE(q.terminal_shows("ZZ_81")) << q.dump();
}

// "q" asks first; "n" keeps everything running. "y" ends with status 0, leaves the terminal as it was
// before quillor started, and the ssh children hang up with it.
TEST(E2eMenu, QuitAsksThenExitsZeroRestoringTerminal)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_h1(q));
    const std::vector<pid_t> ssh = q.children();
    ASSERT_EQ(ssh.size(), 1u);

    const std::string question = "Really quit application [y/n]?";
    ASSERT_NO_FATAL_FAILURE(menu(q, "q"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(question, 0) == 0; }))
        << q.dump();
    EXPECT_TRUE(has_colours(q.minibuf_cell(0), 1, 0, true));
    q.send("n" + keys::Enter);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return !menu_open(q) && q.minibuf_text().find("singlecast mode") != std::string::npos;
    })) << q.dump();
    EXPECT_GT(q.pid(), 0);

    ASSERT_NO_FATAL_FAILURE(menu(q, "q"));
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(question, 0) == 0; }));
    q.send("y" + keys::Enter);
    ASSERT_EQ(q.wait_status(), 0) << q.dump();
    EXPECT_EQ(q.modes_after(), q.modes_before());
    EXPECT_TRUE(q.terminal_modes_reset());
    EXPECT_TRUE(q.wait_for_text("QUILLOR_AFTER=")) << "back on the normal screen" << q.dump();
    EXPECT_NE(q.screen().all_text().find("QUILLOR_BEFORE="), std::string::npos) << q.dump();
    EXPECT_TRUE(q.screen().cursor_visible());
    EXPECT_TRUE(process_gone(ssh[0], 10000)) << "ssh left behind";
}

} // namespace
