// Keys reach the machines they should, and only those: checked in real remote shells.
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/sshd.h"
#include "support/vt_text.h"

namespace {

std::string machine_text(int i)
{
    return vt_screen_text(mlist_machine(i)->term.get());
}

bool pump_until(const std::function<bool()> &cond, int timeout_ms = 15000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        mlist_update();
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void type(const std::string &text)
{
    for (unsigned char c : text) mlist_send_key(c);
}

bool shows(int i, const std::string &text)
{
    return machine_text(i).find(text) != std::string::npos;
}

TEST(KeyRouting, MulticastReachesEveryTaggedMachineDeadOnesIncludedAndSinglecastOnlyTheSelected)
{
    Sshd sshd;
    ASSERT_TRUE(sshd.start(4));
    CursesScreen screen(25, 80);
    WINDOW *list = newwin(10, 10, 1, 0);
    mlist_init(list, 10, 60);
    for (int i = 1; i <= 4; ++i) mlist_add(sshd.add_name(i));
    // Every shell is ready once it answers a command.
    for (int i = 0; i < 4; ++i) {
        while (mlist_selected() < i) mlist_select_next();
        type("echo READY_$((6*7))\r");
    }
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(pump_until([&] { return shows(i, "READY_42"); })) << machine_text(i);

    // Machine 3 ends; its tag stays, so multicast still "sends" to it, to no effect.
    type("exit\r");
    pid_t dead = mlist_machine(3)->pid;
    int status = 0;
    ASSERT_EQ(waitpid(dead, &status, 0), dead);
    mlist_child_exited(dead, status);
    ASSERT_FALSE(mlist_machine(3)->alive);

    mlist_machine(0)->tagged = true;
    mlist_machine(2)->tagged = true;
    mlist_machine(3)->tagged = true;
    mlist_select_prev();
    mlist_select_prev(); // machine 1, untagged, is selected
    ASSERT_EQ(mlist_selected(), 1);
    mlist_toggle_multicast();
    type("echo MC_$((1+1))\r");
    EXPECT_TRUE(pump_until([] { return shows(0, "MC_2") && shows(2, "MC_2"); }));
    mlist_toggle_multicast();
    type("echo SC_$((2+3))\r");
    EXPECT_TRUE(pump_until([] { return shows(1, "SC_5"); }));
    pump_until([] { return false; }, 300);
    EXPECT_FALSE(shows(1, "MC_")) << machine_text(1);
    EXPECT_FALSE(shows(0, "SC_")) << machine_text(0);
    EXPECT_FALSE(shows(2, "SC_")) << machine_text(2);

    mlist_delete_all();
    delwin(list);
    sshd.stop();
    reap_children(5000);
}

} // namespace
