// Machine records start real ssh children.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/machine.h"

namespace {

std::string screen_text(const TarvikVt *vt)
{
    std::string s;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r)
        for (int c = 0; c < tarvik_vt_cols(vt); ++c) s += static_cast<char>(tarvik_vt_cell(vt, r, c).ch & 0x7F);
    return s;
}

// Waits for this very pid, as the main loop's reaping does, and returns its status.
int wait_for_exit(pid_t pid, int timeout_ms = 10000)
{
    int status = 0;
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(Machine, UnresolvableNameGivesAnSshChildWhoseExitIsReportedByItsPid)
{
    Machine *m = machine_create("nonexistent.invalid", 10, 80);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->name, "nonexistent.invalid");
    EXPECT_EQ(m->tagged, 0);
    EXPECT_EQ(m->alive, 1);
    ASSERT_GT(m->pid, 0);
    int status = wait_for_exit(m->pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    tarvik_vt_forsake_child(m->term.get());
    // ssh's own complaint is kept on the screen.
    EXPECT_NE(screen_text(m->term.get()).find("nonexistent.invalid"), std::string::npos);
    machine_destroy(m);
}

TEST(Machine, NamesOfAnyLengthAreSplitIntoSshArgumentsAndRenameTouchesOnlyTheName)
{
    // "-V" makes ssh print its version and exit: proof that a blank in the name starts a new argument.
    Machine *m = machine_create("-V", 5, 80);
    ASSERT_GT(m->pid, 0);
    EXPECT_EQ(WEXITSTATUS(wait_for_exit(m->pid)), 0);
    tarvik_vt_forsake_child(m->term.get());
    EXPECT_NE(screen_text(m->term.get()).find("OpenSSH"), std::string::npos);
    pid_t pid = m->pid;
    machine_rename(m, "shown name");
    EXPECT_EQ(m->name, "shown name");
    EXPECT_EQ(m->pid, pid);
    machine_destroy(m);

    std::string long_name(300, 'a');
    long_name += ".invalid";
    Machine *l = machine_create(long_name, 5, 80);
    ASSERT_GT(l->pid, 0);
    EXPECT_EQ(l->name, long_name);
    wait_for_exit(l->pid);
    machine_destroy(l);
    machine_destroy(nullptr);
    machine_rename(nullptr, "x");
}

} // namespace
