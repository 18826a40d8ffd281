// Ending quillor from outside: SIGTERM, SIGHUP, SIGINT and a terminal that goes away. The user's terminal
// must come back as it was, and no ssh child may be left behind.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Logs into h1 and h2 and returns quillor's ssh children.
std::vector<pid_t> log_into_two(QuillorSession &q)
{
    Sshd *sshd = shared_sshd();
    EXPECT_NE(sshd, nullptr);
    if (!sshd) return {};
    EXPECT_TRUE(q.skip_splash()) << q.dump();
    for (int i = 1; i <= 2; ++i) EXPECT_TRUE(q.add(sshd->add_name(i), i)) << q.dump();
    EXPECT_TRUE(q.terminal_shows("# ")) << q.dump();
    return q.children();
}

TEST(E2eSignals, TermHupAndIntRestoreTerminalAndEndSshChildren)
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        QuillorSession q({}, 25, 80);
        const std::vector<pid_t> ssh = log_into_two(q);
        ASSERT_EQ(ssh.size(), 2u) << q.dump();
        ASSERT_EQ(kill(q.pid(), sig), 0);

        ASSERT_EQ(q.wait_status(), 128 + sig) << q.dump();
        EXPECT_EQ(q.modes_after(), q.modes_before());
        EXPECT_TRUE(q.terminal_modes_reset());
        EXPECT_TRUE(q.wait_for_text("QUILLOR_AFTER=")) << "back on the normal screen" << q.dump();
        EXPECT_NE(q.screen().all_text().find("QUILLOR_BEFORE="), std::string::npos) << q.dump();
        EXPECT_TRUE(q.screen().cursor_visible());
        for (pid_t pid : ssh) EXPECT_TRUE(process_gone(pid, 10000)) << "ssh " << pid << " left behind";
    }
}

// Every other signal that ends a process ends quillor as SIGTERM does: a handler for three of them left
// the terminal raw, on the alternate screen and with bracketed paste on for the rest.
TEST(E2eSignals, EveryOtherSignalThatEndsQuillorRestoresTheTerminal)
{
    for (int sig : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGRTMIN + 1}) {
        SCOPED_TRACE(strsignal(sig));
        QuillorSession q({}, 25, 80);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        ASSERT_EQ(kill(q.pid(), sig), 0);
        ASSERT_EQ(q.wait_status(), 128 + sig) << q.dump();
        EXPECT_EQ(q.modes_after(), q.modes_before());
        EXPECT_TRUE(q.terminal_modes_reset());
        EXPECT_NE(q.program_output().find("\x1b[?2004l"), std::string::npos) << "bracketed paste left on";
    }
}

// Stopped from outside (kill -TSTP, a shell's job control), quillor gives the terminal back as it found
// it; continued, it takes it again: raw modes, its screen repainted whole, and bracketed paste on, which
// the shell may have turned off for itself meanwhile. Where no shell could continue it (its process
// group orphaned, as under the plain wrapper), the stop does not happen and quillor keeps its terminal.
TEST(E2eSignals, StopGivesTheTerminalBackAndContinueTakesItAgain)
{
    for (bool job_control : {true, false}) {
        SCOPED_TRACE(job_control ? "a job of a shell" : "orphaned");
        QuillorSession q({}, 25, 80, {}, job_control);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        const std::string raw = q.modes_now();
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            const size_t before = q.program_output().size();
            ASSERT_EQ(kill(q.pid(), SIGTSTP), 0);
            if (job_control) {
                ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
                    return q.program_output().find("QUILLOR_STOPPED", before) != std::string::npos;
                })) << q.dump();
                EXPECT_EQ(q.modes_now(), q.modes_before());
                EXPECT_NE(q.program_output().find("\x1b[?2004l", before), std::string::npos);
                q.send("\r");
            }
            ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
                return q.program_output().find("\x1b[?2004h", before) != std::string::npos &&
                       s.all_text().find("F1:menu") != std::string::npos;
            })) << q.dump();
            EXPECT_EQ(q.modes_now(), raw);
        }
        EXPECT_EQ(q.quit(), 0) << q.dump();
        EXPECT_EQ(q.modes_after(), q.modes_before());
    }
}

// The terminal window is closed under a running session.
TEST(E2eSignals, ClosedTerminalEndsQuillorAndItsSshChildren)
{
    QuillorSession q({}, 25, 80);
    const std::vector<pid_t> ssh = log_into_two(q);
    ASSERT_EQ(ssh.size(), 2u) << q.dump();
    const pid_t pid = q.pid();
    q.hang_up();
    EXPECT_TRUE(process_gone(pid, 10000)) << "quillor runs on without its terminal";
    for (pid_t kid : ssh) EXPECT_TRUE(process_gone(kid, 10000)) << "ssh " << kid << " left behind";
}

} // namespace
