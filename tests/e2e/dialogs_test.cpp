// What waits for the user never stops the machines, and the screen says what state it is in.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool shows_dead(const QuillorSession &q, int i)
{
    return has_colours(q.list_cell(i), 0, q.list_cell(i).bg == 1 ? 1 : 0, true);
}

// A remote command that prints a lot finishes while the menu is open: the panel's columns left of the
// popup show its end before the menu closes, and a machine that ends meanwhile is shown dead in the list.
// Then every question and prompt, the help and an error: each keeps the machines running.
TEST(E2eDialogs, MachinesRunAndEndBehindEveryDialog)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 2));
    // Cleared first, so that the end shows on the panel's top rows, in the six columns left of the popup.
    q.send("clear; seq 1 200000 | tail -1 >/dev/null; echo OK$((40+2))\r");
    q.send(keys::F3 + "sleep 1; exit\r" + keys::F2 + keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    EXPECT_TRUE(q.wait_for(
        [&](const ScreenReader &) { return q.terminal_text().find("OK42") != std::string::npos; }, 20000))
        << "the machine stood still behind the menu" << q.dump();
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) { return shows_dead(q, 1); })) << q.dump();
    EXPECT_NE(q.screen().all_text().find("Select an option: "), std::string::npos)
        << "the popup was drawn over";
    q.send(keys::Escape);

    struct Case {
        std::string open, shown, close;
    };
    for (const Case &c :
         {Case{keys::F6, "Really delete it [y/n]?", keys::Escape}, Case{keys::F5, "Add: ", keys::Escape},
          Case{keys::F5 + "@/nonexistent/names" + keys::Enter, "Can't read that file.", " "},
          Case{keys::F1 + "r", "Enter new machine name: ", keys::Escape}}) {
        SCOPED_TRACE(c.shown);
        const std::string n = std::to_string(q.screen().all_text().size() % 1000 + 1000);
        q.send("clear; sleep 0.5; echo R$((" + n + "+1))\r" + c.open);
        ASSERT_TRUE(q.wait_for_text(c.shown)) << q.dump();
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.terminal_text().find("R" + std::to_string(std::stoi(n) + 1)) != std::string::npos;
        })) << q.dump();
        // Closed before the next command is typed: an Escape with a letter right after it is Alt and
        // that letter.
        q.send(c.close);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(c.shown, 0) != 0; }))
            << q.dump();
    }
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// F5 pressed at an error, to add the right file, opens the prompt: what is typed next goes there and not
// to the machines.
TEST(E2eDialogs, FunctionKeyAtAnErrorDismissesItAndActs)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5 + "@/nonexistent/names" + keys::Enter);
    ASSERT_TRUE(q.wait_for_text("Can't read that file.")) << q.dump();
    q.send(keys::F5 + "web1");
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Add: web1 ", 0) == 0;
    })) << q.dump();
    q.send(keys::Escape);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Multicast with nothing tagged sends keys nowhere, and says so; tagging a machine sends them again.
// A prompt shows the cursor even when the selected machine's program hid it, and hides it again after.
TEST(E2eDialogs, StateIsShownNothingTaggedAndThePromptCursor)
{
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 1));
    q.send(keys::F7 + "x");
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("No machine is tagged: nothing was sent", 0) == 0 &&
               q.minibuf_text().find("MULTICAST") != std::string::npos;
    })) << q.dump();
    q.send(keys::F4);
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().find("No machine") == std::string::npos;
    })) << q.dump();
    q.send(keys::F7 + "\x15tput civis\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) { return !s.cursor_visible(); })) << q.dump();
    for (const std::string &key : {keys::F5, keys::F6, keys::F1 + "r"}) {
        q.send(key);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
            return s.cursor_visible() && s.cursor_row() == 24 && s.cursor_col() > 4;
        })) << q.dump();
        q.send(keys::Escape);
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &s) { return !s.cursor_visible(); })) << q.dump();
    }
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
