// Reaping ssh children that end together.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/children.h"
#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/proc_files.h"
#include "support/silent_listener.h"
#include "support/vt_text.h"

namespace
{

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
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    for (int i = 0; i < kMachines; ++i)
        mlist_add(port.name());
    ASSERT_EQ(mlist_count(), kMachines);
    ASSERT_TRUE(port.wait_waiting(kMachines)) << port.waiting() << " connected";

    port.close();
    ASSERT_TRUE(wait_zombies(kMachines, 10000)) << process_zombies(getpid()).size() << " ended";
    EXPECT_NE(children_pending(), 0);
    children_reap();
    for (int i = 0; i < kMachines; ++i) {
        const Machine *m = mlist_machine(i);
        EXPECT_EQ(m->alive, 0) << "machine " << i;
        EXPECT_NE(vt_flat_text(m->term.get()).find("Connection reset"), std::string::npos) << "machine " << i;
    }
    EXPECT_TRUE(process_zombies(getpid()).empty());
    EXPECT_EQ(children_pending(), 0);

    mlist_delete_all();
    delwin(list);
    signal(SIGCHLD, SIG_DFL);
}

} // namespace
