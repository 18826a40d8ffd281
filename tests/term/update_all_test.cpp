// Updating many screens at once takes in the output of every terminal that has some, sees the end of
// those whose child has gone, and leaves the quiet ones as they are.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

std::string row0(const TarvikVt *vt)
{
    std::string s;
    for (int c = 0; c < tarvik_vt_cols(vt); ++c) s += static_cast<char>(tarvik_vt_cell(vt, 0, c).ch);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

TEST(UpdateAll, TakesInEveryTerminalWithOutputAndSeesEndsOfFile)
{
    Vt talks(tarvik_vt_create(3, 30));
    Vt quiet(tarvik_vt_create(3, 30));
    Vt ends(tarvik_vt_create(3, 30));
    pid_t p1 = tarvik_vt_forkpty(talks.get(), "/bin/echo talks");
    pid_t p2 = tarvik_vt_forkpty(quiet.get(), "/bin/sleep 30");
    pid_t p3 = tarvik_vt_forkpty(ends.get(), "/bin/echo ends");
    ASSERT_GT(p1, 0);
    ASSERT_GT(p2, 0);
    ASSERT_GT(p3, 0);
    unsigned long quiet_version = tarvik_vt_version(quiet.get());
    TarvikVt *all[] = {talks.get(), nullptr, quiet.get(), ends.get()};
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end &&
           (row0(ends.get()) != "ends" || tarvik_vt_fd(ends.get()) >= 0 || row0(talks.get()) != "talks")) {
        tarvik_vt_update_all(all, 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(row0(talks.get()), "talks");
    EXPECT_EQ(row0(ends.get()), "ends");
    EXPECT_EQ(tarvik_vt_fd(ends.get()), -1); // its end of file was read
    EXPECT_GE(tarvik_vt_fd(quiet.get()), 0);
    EXPECT_EQ(tarvik_vt_version(quiet.get()), quiet_version);

    // A key reaches the quiet child's terminal, whose echo comes back through the same call.
    tarvik_vt_keypress(quiet.get(), 'k');
    end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end && row0(quiet.get()) != "k") {
        tarvik_vt_update_all(all, 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(row0(quiet.get()), "k");
    kill(p2, SIGKILL);
    for (pid_t p : {p1, p2, p3}) waitpid(p, nullptr, 0);
}

// Many floods share one call's time: a call takes about what one flood alone was allowed, the quiet
// screen's echo is taken in by the first call after it arrived, and every flood advances.
TEST(UpdateAll, FloodsShareABoundedTimeWhileAKeyIsAnsweredAndEachFloodAdvances)
{
    constexpr int kFloods = 8;
    std::vector<Vt> vts;
    std::vector<pid_t> pids;
    for (int i = 0; i <= kFloods; ++i) {
        vts.emplace_back(tarvik_vt_create(3, 30));
        pids.push_back(tarvik_vt_forkpty(vts.back().get(), i == 0 ? "/bin/sleep 30" : "/usr/bin/yes"));
        ASSERT_GT(pids.back(), 0);
    }
    std::vector<TarvikVt *> all;
    for (auto &vt : vts) all.push_back(vt.get());
    TarvikVt *quiet = all[0];
    // Let every flood fill its terminal, so that each call has more to read than its time allows.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<double> call_ms;
    std::vector<unsigned long> before;
    for (TarvikVt *vt : all) before.push_back(tarvik_vt_version(vt));
    for (int round = 0; round < 10; ++round) {
        char key = static_cast<char>('a' + round);
        // The terminal itself echoes the key; the call comes once the echo is there to read.
        tarvik_vt_send(quiet, &key, 1);
        pollfd echo{tarvik_vt_fd(quiet), POLLIN, 0};
        ASSERT_EQ(poll(&echo, 1, 5000), 1);
        auto start = std::chrono::steady_clock::now();
        tarvik_vt_update_all(all.data(), all.size());
        auto took = std::chrono::steady_clock::now() - start;
        call_ms.push_back(std::chrono::duration<double, std::milli>(took).count());
        EXPECT_EQ(static_cast<char>(tarvik_vt_cell(quiet, 0, round).ch), key) << "round " << round;
    }
    // A flood whose child got no processor time in a call has nothing new, so only over all the calls
    // must each one have advanced.
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_NE(tarvik_vt_version(all[i]), before[i]) << "flood " << i << " stood still";
    std::sort(call_ms.begin(), call_ms.end());
    // One flood alone may take a call up to 20 ms; eight floods at 20 ms each would take 160.
    EXPECT_LT(call_ms[call_ms.size() / 2], 60.0);
    vts.clear();
    for (pid_t p : pids) waitpid(p, nullptr, 0);
}

// A key waiting on the interrupt descriptor ends reading floods once each flood has had a read, rather
// than after the update's whole time: each advances by one read (a terminal gives at most 4 KiB at
// once), and still advances.
TEST(UpdateAll, AWaitingKeyEndsReadingFloodsAfterOneReadEach)
{
    constexpr int kFloods = 4;
    std::vector<Vt> vts;
    std::vector<pid_t> pids;
    std::vector<int> lines(kFloods, 0);
    for (int i = 0; i < kFloods; ++i) {
        vts.emplace_back(tarvik_vt_create(3, 30));
        tarvik_vt_set_scrollback(
            vts.back().get(), [](const TarvikLineCell *, int, bool, void *n) { ++*static_cast<int *>(n); },
            &lines[static_cast<size_t>(i)]);
        pids.push_back(tarvik_vt_forkpty(vts.back().get(), "/usr/bin/yes"));
        ASSERT_GT(pids.back(), 0);
    }
    std::vector<TarvikVt *> all;
    for (auto &vt : vts) all.push_back(vt.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tarvik_vt_update_all(all.data(), all.size()); // now each is known to flood
    int key[2];
    ASSERT_EQ(pipe(key), 0);
    ASSERT_EQ(write(key[1], "k", 1), 1);
    tarvik_set_interrupt_fd(key[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::fill(lines.begin(), lines.end(), 0);
    tarvik_vt_update_all(all.data(), all.size());
    tarvik_set_interrupt_fd(-1);
    for (int i = 0; i < kFloods; ++i) {
        // "y" and a line end: three bytes a line.
        EXPECT_GT(lines[static_cast<size_t>(i)], 0) << "flood " << i;
        EXPECT_LE(lines[static_cast<size_t>(i)], 4096 / 3 + 1) << "flood " << i;
    }
    close(key[0]);
    close(key[1]);
    vts.clear();
    for (pid_t p : pids) waitpid(p, nullptr, 0);
}

} // namespace
