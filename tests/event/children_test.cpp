// Reaping ssh children that end together.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "event/children.h"
#include "event/wait.h"
#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/proc_files.h"
#include "support/silent_listener.h"
#include "support/vt_text.h"

namespace {

bool wait_zombies(size_t n, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (process_zombies(getpid()).size() < n) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Fifty ssh children wait on one silent port; closing it resets every connection at once, so they all
// end within the same instant and their signals pile up into fewer than fifty. One reaping, as one turn
// of the main loop does, must still mark every machine dead, keep what each ssh said last, and leave
// no zombie behind.
TEST(ChildExits, FiftyEndingAtOnceAreAllDeadAfterOneTurnAndNoZombieRemains)
{
    constexpr int kMachines = 50;
    CursesScreen screen(25, 80);
    WINDOW *list = newwin(22, 10, 1, 0);
    mlist_init(list, 5, 80);
    children_install_handler();
    children_on_other_exit([](pid_t pid, int status, void *) { mlist_child_exited(pid, status); }, nullptr);
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    for (int i = 0; i < kMachines; ++i) mlist_add(port.name());
    ASSERT_EQ(mlist_count(), kMachines);
    ASSERT_TRUE(port.wait_waiting(kMachines)) << port.waiting() << " connected";

    port.close();
    ASSERT_TRUE(wait_zombies(kMachines, 10000)) << process_zombies(getpid()).size() << " ended";
    children_reap();
    for (int i = 0; i < kMachines; ++i) {
        const Machine *m = mlist_machine(i);
        EXPECT_FALSE(m->alive) << "machine " << i;
        EXPECT_NE(vt_flat_text(m->term.get()).find("Connection reset"), std::string::npos) << "machine " << i;
    }
    EXPECT_TRUE(process_zombies(getpid()).empty());

    mlist_delete_all();
    // The list forgets the window before it goes: a later wait repaints the list.
    mlist_init(nullptr, 5, 80);
    delwin(list);
    signal(SIGCHLD, SIG_DFL);
}

} // namespace

namespace {

std::vector<long long> g_turns;
std::chrono::steady_clock::time_point g_wait_start;

// Called before every poll of the wait: one call a turn.
void record_turn(std::vector<pollfd> &, void *)
{
    g_turns.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_wait_start)
            .count());
}

// An idle wait sleeps: with no key, output or exit it takes one turn and then not another until its
// time is up. An exit wakes it at once through the self-pipe, however long it would have slept, and is
// reaped in that turn.
TEST(ChildExits, AnExitWakesAnIdleWaitAtOnceAndNothingElseDoes)
{
    CursesScreen screen(25, 80);
    children_install_handler();
    wait_add_source({record_turn, [](const pollfd *, size_t, void *) {}, nullptr});
    wait_init();
    pid_t kid = fork();
    if (kid == 0) {
        usleep(300 * 1000);
        _exit(0);
    }
    ASSERT_GT(kid, 0);
    g_turns.clear();
    g_wait_start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_key_for(1500), ERR);
    ASSERT_GE(g_turns.size(), 2u);
    EXPECT_LT(g_turns[0], 100);
    EXPECT_GE(g_turns[1], 250) << "woke before the exit";
    EXPECT_LT(g_turns[1], 700) << "the exit did not wake the wait";
    EXPECT_LE(g_turns.size(), 3u) << "the idle wait woke on its own";
    EXPECT_TRUE(process_zombies(getpid()).empty());
    signal(SIGCHLD, SIG_DFL);
}

} // namespace
