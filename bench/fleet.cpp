// 256 logins from a file against an sshd that drops them beyond its MaxStartups: how long until all are
// in, and how many ssh children end with 255 instead.
#include "fleet.h"

#include <sys/mount.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "measures.h"
#include "procs.h"
#include "pty_session.h"

namespace {

constexpr int kRows = 40, kCols = 120;
// 256 logins paced 8 at a time take a minute on a loaded machine; unpaced, ssh's failures come fast.
constexpr int kSettleTimeoutMs = 600000;

// The counts quillor's bottom line shows, by state.
struct Counts {
    int up = 0, dead = 0, busy = 0; // busy: logging in, queued or asking
};

Counts read_counts(const std::string &line)
{
    static const std::regex count(R"((\d+) (up|logging in|queued|asking|dead)\b)");
    Counts c;
    for (auto m = std::sregex_iterator(line.begin(), line.end(), count); m != std::sregex_iterator(); ++m) {
        const int n = std::stoi((*m)[1]);
        const std::string state = (*m)[2];
        (state == "up" ? c.up : state == "dead" ? c.dead : c.busy) += n;
    }
    return c;
}

} // namespace

FleetRun measure_fleet(const std::string &quillor, const std::string &hosts_file, int machines,
                       pid_t sshd_pid, int logins_at_once)
{
    FleetRun run;
    {
        const auto start = Clock::now();
        PtySession s({quillor, "-P", std::to_string(logins_at_once), "@" + hosts_file}, kRows, kCols);
        Counts last;
        auto settled = s.wait_for(
            [&](const ScreenReader &screen) {
                last = read_counts(screen.row_text(kRows - 1));
                return last.busy == 0 && last.up + last.dead == machines;
            },
            kSettleTimeoutMs);
        if (settled) {
            run.settled_s = ms_between(start, *settled) / 1000.0;
            run.up = last.up;
            run.dead = last.dead;
        } else {
            std::fprintf(stderr, "bench: -P %d: not settled after %d s: %s\n", logins_at_once,
                         kSettleTimeoutMs / 1000, s.screen().row_text(kRows - 1).c_str());
        }
    }
    // The next run starts on a quiet machine.
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (proc_count_descendants(sshd_pid, "bash") > 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return run;
}

ClientConfigOver::ClientConfigOver(const std::string &path)
{
    ok_ = mount(path.c_str(), kSystemSshConfig, nullptr, MS_BIND, nullptr) == 0;
    if (!ok_) std::perror("bench: cannot put the fleet's ssh config in place");
}

ClientConfigOver::~ClientConfigOver()
{
    // Takes off the top one only: the harness's own config is there again.
    if (ok_) umount2(kSystemSshConfig, 0);
}
