// The private sshd the end-to-end tests log into: logins work, and nothing outlives the fixture.
#include "support/reap.h"
#include "support/sshd.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

// Runs ssh with the words of a machine name, as quillor would, and returns what it printed.
std::string ssh_output(const std::string &name, const std::string &remote)
{
    const std::string cmd = "/usr/bin/ssh " + name + " '" + remote + "' 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
    return out;
}

TEST(Sshd, LogsIntoEveryAliasWithEmptyHomeAndLeavesNothingBehind)
{
    std::string dir;
    pid_t pid = -1;
    {
        Sshd sshd;
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(sshd.start(4));
        const auto took = std::chrono::steady_clock::now() - begin;
        std::printf(
            "start() took %lld ms\n",
            static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        dir = sshd.dir;
        pid = sshd.pid;
        for (int host : {1, 4})
            EXPECT_EQ(ssh_output(sshd.add_name(host), "echo DONE_$((40+2)) $HOME"),
                      "DONE_42 " + sshd.home + "\n")
                << "host h" << host;
    }
    EXPECT_FALSE(std::filesystem::exists(dir)) << dir;
    errno = 0;
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

// sshd serves each connection from a process in a session of its own; stopping only the listener
// would leave logged-in shells (and the clients talking to them) running after the test.
TEST(Sshd, StopEndsSessionsStillLoggedIn)
{
    Sshd sshd;
    ASSERT_TRUE(sshd.start(1));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string config = sshd.config;
    const pid_t client = fork();
    ASSERT_GE(client, 0);
    if (client == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        execl("/usr/bin/ssh", "ssh", "-tt", "-F", config.c_str(), "h1", "echo UP; exec sleep 60", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string seen;
    char buf[256];
    while (seen.find("UP") == std::string::npos) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    ASSERT_NE(seen.find("UP"), std::string::npos) << seen;

    sshd.stop();
    const bool ended = reap_child(client, 10000) != -1;
    if (!ended) {
        kill(client, SIGKILL);
        waitpid(client, nullptr, 0);
    }
    EXPECT_TRUE(ended) << "the session survived stop()";
}

} // namespace
