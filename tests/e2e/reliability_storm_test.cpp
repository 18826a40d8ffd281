// Many machines at once in the real program: children that all end in the same instant, and what each
// ssh child may hold open.
#include "support/proc_files.h"
#include "support/quillor_session.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A file naming the silent port n times: n machines whose ssh waits until the port closes.
std::string names_file(const TempDir &dir, const SilentListener &port, int n)
{
    std::string names;
    for (int i = 0; i < n; ++i) names += port.name() + "\n";
    return dir.write("names", names);
}

// The storms start every login at once (-P 0): their ssh children wait on a port that never answers,
// which would keep all but the first few queued under the default pacing.
const std::vector<std::string> kNoPacing = {"-P", "0"};

// Every one of fifty ssh children ends in the same instant: the rows all turn dead together within a
// turn or two of the loop (a turn waits 200 ms at most), and quillor leaves no zombie.
TEST(E2eReliabilityStorm, FiftyMachinesEndingAtOnceAreAllShownDeadAndReaped)
{
    constexpr int kMachines = 50;
    constexpr int kBoundMs = 1000;
    TempDir dir;
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    const std::string file = names_file(dir, port, kMachines);
    // Tall enough for every machine to have its row.
    QuillorSession q(kNoPacing, kMachines + 6, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add("@" + file, kMachines)) << q.dump();
    ASSERT_TRUE(port.wait_waiting(kMachines)) << port.waiting() << " connected";
    ASSERT_EQ(q.children().size(), static_cast<size_t>(kMachines));

    auto all_dead = [&](const ScreenReader &) {
        for (int i = 0; i < kMachines; ++i)
            if (!has_colours(q.list_cell(i), 0, i == 0 ? 1 : 0, true)) return false;
        return true;
    };
    EXPECT_FALSE(all_dead(q.screen()));
    const auto start = Clock::now();
    port.close();
    ASSERT_TRUE(q.wait_for(all_dead, 10000)) << q.dump();
    const long long ms = ms_since(start);
    EXPECT_LE(ms, kBoundMs) << "all shown dead only after " << ms << " ms";
    EXPECT_TRUE(process_zombies(q.pid()).empty());
    EXPECT_TRUE(q.children().empty());
    // What the selected machine's ssh said last is still there.
    EXPECT_NE(q.terminal_flat().find("Connection reset"), std::string::npos) << q.dump();
    std::printf("%d machines shown dead %lld ms after their ssh children were reset\n", kMachines, ms);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Sixty-four machines whose ssh ends in one instant while a helper it started (as a ProxyCommand may
// leave one) still holds its terminal: the reaping never waits for those terminals to end, so every
// row turns dead at once, each with its note, instead of a tenth of a second per machine one after
// another with the screen and the keys frozen meanwhile.
TEST(E2eReliabilityStorm, MachinesEndingWhileAHelperHoldsTheirTerminalDoNotFreezeTheProgram)
{
    constexpr int kMachines = 64;
    constexpr int kBoundMs = 2000;
    TempDir dir;
    const std::string go = dir.path + "/go", pids = dir.path + "/helpers";
    const std::string proxy =
        dir.write("proxy", "#!/bin/sh\ntrap '' HUP\nwhile [ ! -e " + go +
                               " ]; do sleep 0.05; done\nsleep 30 </dev/null >/dev/null &\n"
                               "echo $! >>" +
                               pids + "\nexit 0\n");
    chmod(proxy.c_str(), 0700);
    QuillorSession q({"-P", "0", "--", "-F /dev/null -oProxyCommand=" + proxy + " x[1-64]"}, kMachines + 6,
                     80);
    auto all_dead = [&](const ScreenReader &) {
        for (int i = 0; i < kMachines; ++i)
            if (!has_colours(q.list_cell(i), 0, i == 0 ? 1 : 0, true)) return false;
        return true;
    };
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == kMachines; })) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.children().size() == kMachines; }))
        << q.dump();
    const auto start = Clock::now();
    dir.write("go", "");
    ASSERT_TRUE(q.wait_for(all_dead, 20000)) << q.dump();
    const long long ms = ms_since(start);
    EXPECT_LE(ms, kBoundMs) << "all shown dead only " << ms << " ms after their ssh children were let go";
    EXPECT_TRUE(q.terminal_shows("[ssh exited with status 255]")) << q.dump();
    std::printf("%d machines shown dead %lld ms after their ssh children were let go\n", kMachines, ms);
    EXPECT_EQ(q.quit(), 0) << q.dump();
    std::ifstream helpers(pids);
    for (pid_t pid; helpers >> pid;) kill(pid, SIGKILL);
}

// Each ssh child holds its own terminal on 0, 1 and 2 and nothing of quillor's: not the user's
// terminal, not another machine's, not a descriptor quillor has open. Deleting every machine hangs
// them all up and gives quillor's descriptors back.
TEST(E2eReliabilityStorm, HundredSshChildrenHoldOnlyTheirOwnTerminal)
{
    constexpr int kMachines = 100;
    TempDir dir;
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    const std::string file = names_file(dir, port, kMachines);
    QuillorSession q(kNoPacing, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    const pid_t quillor = q.pid();
    ASSERT_GT(quillor, 0);
    const size_t fds_before = process_files(quillor).size();

    const auto t0 = Clock::now();
    q.send(keys::F5 + "@" + file + keys::Enter);
    ASSERT_TRUE(port.wait_waiting(kMachines)) << port.waiting() << " connected" << q.dump();
    const std::vector<pid_t> ssh = q.children();
    ASSERT_EQ(ssh.size(), static_cast<size_t>(kMachines));

    const long long add_ms = ms_since(t0);
    std::set<std::pair<dev_t, ino_t>> quillors;
    for (const OpenFile &f : process_files(quillor)) quillors.insert({f.dev, f.ino});
    std::set<std::string> terminals;
    for (pid_t pid : ssh) {
        SCOPED_TRACE("ssh " + std::to_string(pid));
        const std::vector<OpenFile> files = process_files(pid);
        ASSERT_GE(files.size(), 3u);
        for (int fd = 0; fd <= 2; ++fd) ASSERT_EQ(files[static_cast<size_t>(fd)].fd, fd);
        const std::string own = files[0].target;
        EXPECT_EQ(own.rfind("/dev/pts/", 0), 0u) << own;
        for (const OpenFile &f : files) {
            if (f.fd <= 2) {
                EXPECT_EQ(f.target, own) << "fd " << f.fd;
            } else {
                // Its own connection is all that ssh opens while it waits for the greeting.
                EXPECT_EQ(f.target.rfind("socket:", 0), 0u) << "fd " << f.fd << " -> " << f.target;
            }
            EXPECT_EQ(quillors.count({f.dev, f.ino}), 0u) << "fd " << f.fd << " -> " << f.target;
        }
        EXPECT_TRUE(terminals.insert(own).second) << own << " is shared";
    }

    ASSERT_TRUE(q.delete_all()) << q.dump();
    for (pid_t pid : ssh) EXPECT_TRUE(process_gone(pid, 10000)) << "ssh " << pid << " still runs";
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return process_zombies(quillor).empty(); }))
        << process_zombies(quillor).size() << " unreaped";
    const size_t fds_after = process_files(quillor).size();
    EXPECT_EQ(fds_after, fds_before);
    std::printf("%d ssh children connected %lld ms after Enter; quillor's descriptors %zu -> %zu\n",
                kMachines, add_ms, fds_before, fds_after);
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
