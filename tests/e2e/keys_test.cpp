// Typing into machines: selection, tags, multicast and singlecast, machines that end, Ctrl-C and F6,
// against real shells behind a private sshd.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

namespace {

// Adds h1..h<n> and waits until each one's shell prompt is up; the first stays selected.
void log_into(QuillorSession &q, int n)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(q.add(sshd->add_name(i), i)) << q.dump();
    for (int i = n - 1; i >= 0; --i) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("# ")) << "machine " << i << q.dump();
    }
}

// Runs a command on the selected machine in singlecast mode and waits for its output. Keys reach one
// machine in the order typed, so anything typed into it before has been echoed by then.
void flush(QuillorSession &q, int i)
{
    const std::string n = std::to_string(1000 + i);
    q.send("echo FL_$((" + n + "+0))\r");
    ASSERT_TRUE(q.terminal_shows("FL_" + n)) << q.dump();
}

TEST(E2eKeys, MulticastReachesTaggedMachinesOnlyAndSinglecastTheSelectedOne)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_NO_FATAL_FAILURE(log_into(q, 3));

    // Tag the first and the last; the untagged middle one stays selected while multicast typing goes on.
    q.send(keys::F4);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.list_row(0)[0] == '*' && has_colours(q.list_cell(0), 2, 1, true);
    })) << "tagged and selected"
        << q.dump();
    ASSERT_TRUE(q.select(2));
    q.send(keys::F4);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_row(2)[0] == '*'; })) << q.dump();
    ASSERT_TRUE(q.select(1));
    EXPECT_TRUE(has_colours(q.list_cell(0), 2, 0, true)) << "tagged";
    EXPECT_EQ(q.list_row(1)[0], ' ');

    q.send(keys::F7);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().find("!!! MULTICAST MODE !!!") == 58;
    })) << q.dump();
    const ReadCell mode = q.minibuf_cell(58);
    EXPECT_TRUE(has_colours(mode, 7, 1, true));
    EXPECT_TRUE(mode.blink);
    q.send("echo MC_$((40+2))\r");
    for (int i : {0, 2}) {
        ASSERT_TRUE(q.select(i));
        EXPECT_TRUE(q.terminal_shows("MC_42")) << "tagged machine " << i << q.dump();
    }

    // Back to singlecast on the untagged machine: the multicast text never reached it, and what is
    // typed now reaches it alone.
    ASSERT_TRUE(q.select(1));
    q.send(keys::F7);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().find("singlecast mode") == 65;
    })) << q.dump();
    q.send("echo SC_$((50+5))\r");
    ASSERT_TRUE(q.terminal_shows("SC_55")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("MC_"), std::string::npos) << q.dump();
    for (int i : {0, 2}) {
        ASSERT_TRUE(q.select(i));
        ASSERT_NO_FATAL_FAILURE(flush(q, i));
        EXPECT_EQ(q.terminal_text().find("SC_"), std::string::npos) << "machine " << i << q.dump();
    }
}

// A machine whose ssh ended shows dead, also when two end in the same instant (one signal may stand
// for both exits).
TEST(E2eKeys, EndedMachinesShowDead)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_NO_FATAL_FAILURE(log_into(q, 3));

    q.send("exit\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return has_colours(q.list_cell(0), 0, 1, true); }))
        << "selected and dead" << q.dump();
    EXPECT_TRUE(has_colours(q.list_cell(1), 7, 0, false)) << "the others live on";
    EXPECT_TRUE(has_colours(q.list_cell(2), 7, 0, false));

    ASSERT_TRUE(q.select(1));
    EXPECT_TRUE(has_colours(q.list_cell(0), 0, 0, true)) << "dead";
    q.send(keys::F4);
    ASSERT_TRUE(q.select(2));
    q.send(keys::F4 + keys::F7 + "exit\r");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return has_colours(q.list_cell(1), 2, 0, false) && has_colours(q.list_cell(2), 2, 1, false);
    })) << "tagged and dead"
        << q.dump();
    EXPECT_EQ(q.list_row(1)[0], '*');
    EXPECT_EQ(q.list_row(2)[0], '*');
    EXPECT_GT(q.pid(), 0);
    EXPECT_TRUE(q.children().empty()) << "every ssh has ended";
}

// Every ssh child ends while quillor cannot run, so their exits reach it as one signal: each machine
// must still be shown dead, not only the first one reaped.
TEST(E2eKeys, MachinesEndingTogetherAllShowDead)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_NO_FATAL_FAILURE(log_into(q, 3));
    const std::vector<pid_t> ssh = q.children();
    ASSERT_EQ(ssh.size(), 3u);

    ASSERT_EQ(kill(q.pid(), SIGSTOP), 0);
    for (pid_t pid : ssh) kill(pid, SIGKILL);
    for (pid_t pid : ssh) EXPECT_TRUE(process_gone(pid, 10000));
    ASSERT_EQ(kill(q.pid(), SIGCONT), 0);

    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
        return has_colours(q.list_cell(0), 0, 1, true) && has_colours(q.list_cell(1), 0, 0, true) &&
               has_colours(q.list_cell(2), 0, 0, true);
    })) << q.dump();
}

// Quillor reads the keyboard raw: Ctrl-C travels to the machine and interrupts its command there.
TEST(E2eKeys, CtrlCInterruptsRemoteCommandNotQuillor)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_NO_FATAL_FAILURE(log_into(q, 1));
    // The marker comes from the very process that then sleeps, so once it shows, the Ctrl-C cannot
    // land in the gap before the command starts.
    q.send("sh -c 'echo SLEEP_$((1+1)); exec sleep 100'\r");
    ASSERT_TRUE(q.terminal_shows("SLEEP_2")) << q.dump();
    q.send(keys::CtrlC);
    ASSERT_TRUE(q.terminal_shows("^C")) << q.dump();
    q.send("echo AFTER_$((3+4))\r");
    EXPECT_TRUE(q.terminal_shows("AFTER_7", 10000)) << q.dump();
    EXPECT_GT(q.pid(), 0);
}

// F6 deletes the selected machine only when the answer is yes; the selection moves to the next one.
TEST(E2eKeys, F6DeletesSelectedOnlyWhenAnsweredYes)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(q.add("x" + std::to_string(i) + ".invalid", i)) << q.dump();
    ASSERT_TRUE(q.select(1));

    const std::string question = "Really delete it [y/n]?";
    for (const std::string &answer : {"n" + keys::Enter, keys::Enter, "y" + keys::Escape}) {
        q.send(keys::F6);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().rfind(question, 0) == 0;
        })) << q.dump();
        EXPECT_TRUE(has_colours(q.minibuf_cell(0), 1, 0, true));
        q.send(answer);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().find("singlecast mode") != std::string::npos;
        })) << q.dump();
        EXPECT_EQ(q.list_count(), 3);
    }

    q.send(keys::F6);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(question, 0) == 0; }));
    q.send("y" + keys::Enter);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    EXPECT_EQ(q.list_row(0), " x1.inval ");
    EXPECT_EQ(q.list_row(1), " x3.inval ");
    EXPECT_EQ(q.list_cell(1).bg, 1) << "the machine that followed is selected";
}

} // namespace
