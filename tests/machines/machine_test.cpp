// Machine records start real ssh children.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/machine.h"
#include "support/reap.h"
#include "support/vt_text.h"

namespace {

TEST(Machine, UnresolvableNameGivesAnSshChildWhoseExitIsReportedByItsPid)
{
    Machine *m = machine_create("nonexistent.invalid", 10, 80);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->name, "nonexistent.invalid");
    EXPECT_FALSE(m->tagged);
    EXPECT_TRUE(m->alive);
    ASSERT_GT(m->pid, 0);
    int status = reap_child(m->pid, 10000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    vt_forsake_settled(m->term.get());
    // ssh's own complaint is kept on the screen.
    EXPECT_NE(vt_flat_text(m->term.get()).find("nonexistent.invalid"), std::string::npos);
    machine_destroy(m);
}

TEST(Machine, NamesOfAnyLengthAreSplitIntoSshArgumentsAndRenameTouchesOnlyTheName)
{
    // "-V" makes ssh print its version and exit: proof that a blank in the name starts a new argument.
    Machine *m = machine_create("-V", 5, 80);
    ASSERT_GT(m->pid, 0);
    EXPECT_EQ(WEXITSTATUS(reap_child(m->pid, 10000)), 0);
    vt_forsake_settled(m->term.get());
    EXPECT_NE(vt_flat_text(m->term.get()).find("OpenSSH"), std::string::npos);
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
    reap_child(l->pid, 10000);
    machine_destroy(l);
    machine_destroy(nullptr);
    machine_rename(nullptr, "x");
}

} // namespace
