// Many logins at once: paced below what an sshd takes, queued in order, and the fleet's state on the
// bottom line, with the menu's tagging of the machines that are dead or ask for a password.
#include "support/quillor_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool bottom_says(QuillorSession &q, const std::string &counts, int timeout_ms = 20000)
{
    return q.wait_for(
        [&](const ScreenReader &) { return q.minibuf_text().ends_with(counts + "  singlecast mode"); },
        timeout_ms);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// An sshd that drops every connection beyond three that have not logged in yet, as a jump host or a
// busy server does: twelve machines started together, three at a time, all get their shell.
TEST(E2eFleet, PacedLoginsAllGetPastAnSshdThatTakesThreeAtOnce)
{
    Sshd sshd;
    sshd.max_startups = "3";
    ASSERT_TRUE(sshd.start(12));
    std::vector<std::string> args = {"-P", "3", "--"};
    for (int i = 1; i <= 12; ++i) args.push_back(sshd.add_name(i));
    QuillorSession q(args, 25, 80);
    ASSERT_TRUE(bottom_says(q, "12 up", 90000)) << q.dump() << read_file(sshd.log);
    EXPECT_EQ(q.children().size(), 12u);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// With one login at a time, the others wait in order, marked in the list; deleting the machine logging
// in lets the next one start, deleting a queued one takes it out of the queue, and quitting starts none
// of those still queued. Each machine's ssh goes through a proxy that notes its start and never answers.
TEST(E2eFleet, QueuedLoginsStartInTurnAndNeverAfterDeletionOrQuit)
{
    TempDir dir;
    const std::string started = dir.path + "/started";
    for (int i = 1; i <= 4; ++i) {
        const std::string proxy =
            dir.write("proxy" + std::to_string(i),
                      "#!/bin/sh\necho " + std::to_string(i) + " >>" + started + "\nexec sleep 30\n");
        chmod(proxy.c_str(), 0700);
    }
    QuillorSession q({"-P", "1", "--", "-F /dev/null -oProxyCommand=" + dir.path + "/proxy[1-4] p"}, 25, 80);
    ASSERT_TRUE(bottom_says(q, "1 logging in  3 queued")) << q.dump();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(q.list_mark(i), i == 0 ? ' ' : '~') << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return read_file(started) == "1\n"; }))
        << read_file(started);

    q.send(keys::F6 + "y" + keys::Enter);
    ASSERT_TRUE(bottom_says(q, "1 logging in  2 queued")) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return read_file(started) == "1\n2\n"; }))
        << read_file(started);
    ASSERT_TRUE(q.select(2)) << q.dump();
    q.send(keys::F6 + "y" + keys::Enter);
    ASSERT_TRUE(bottom_says(q, "1 logging in  1 queued")) << q.dump();
    EXPECT_EQ(q.children().size(), 1u);
    EXPECT_EQ(q.quit(), 0) << q.dump();
    EXPECT_EQ(read_file(started), "1\n2\n");
}

// A machine logged in, one whose ssh ended and one at a password prompt: the bottom line counts them,
// the list marks the one asking, and the menu tags exactly the dead one or exactly the one asking.
TEST(E2eFleet, CountsAndTaggingFindTheMachinesDeadOrAsking)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    TempDir dir;
    const std::string asker =
        dir.write("asker", "#!/bin/sh\nprintf \"admin@web9's password: \" >&2\nexec sleep 30\n");
    chmod(asker.c_str(), 0700);
    QuillorSession q({"--", sshd->add_name(1), "-V dead", "-F /dev/null -oProxyCommand=" + asker + " web9"},
                     25, 80);
    ASSERT_TRUE(bottom_says(q, "1 up  1 asking  1 dead")) << q.dump();
    EXPECT_EQ(q.list_mark(2), '?') << q.dump();

    auto tagged = [&](const std::string &menu_key, int only) {
        q.send(keys::F1);
        ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
        q.send(menu_key);
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
            for (int i = 0; i < 3; ++i)
                if ((q.list_row(i)[0] == '*') != (i == only)) return false;
            return q.minibuf_text().rfind("1 tagged", 0) == 0;
        })) << q.dump();
    };
    tagged("a", 2);
    tagged("D", 1);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
