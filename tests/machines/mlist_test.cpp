// The machine list's bookkeeping: capacity, selection, scrolling, tags and deletion.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"

namespace {

class MachineList : public ::testing::Test {
protected:
    void SetUp() override { use_rows(10); }
    void TearDown() override
    {
        mlist_delete_all();
        if (win_) delwin(win_);
        reap_children(3000);
    }

    void use_rows(int rows)
    {
        mlist_delete_all();
        if (win_) delwin(win_);
        win_ = newwin(rows, 10, 1, 0);
        mlist_init(win_, 5, 20);
    }

    // "ssh -V" prints its version and exits at once: a cheap real child per machine.
    void add(int n)
    {
        for (int i = 0; i < n; ++i) mlist_add("-V m" + std::to_string(mlist_count()));
    }

    std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (int i = 0; i < mlist_count(); ++i) out.push_back(mlist_machine(i)->name);
        return out;
    }

    // Marks machine i dead the way the main loop does: its child is reaped, then reported.
    void kill_machine(int i)
    {
        pid_t pid = mlist_machine(i)->pid;
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        mlist_child_exited(pid, status);
        vt_settle_forsaken(mlist_update);
    }

    CursesScreen screen_{25, 80};
    WINDOW *win_ = nullptr;
};

TEST_F(MachineList, HoldsExactly256MachinesAndRefusesEmptyNames)
{
    mlist_add("");
    EXPECT_EQ(mlist_count(), 0);
    add(255);
    mlist_add("-V last");
    EXPECT_EQ(mlist_count(), 256);
    EXPECT_EQ(mlist_machine(255)->name, "-V last");
    mlist_add("-V refused");
    EXPECT_EQ(mlist_count(), 256);
    EXPECT_EQ(mlist_machine(256), nullptr);
    // Every machine got its own child, the same name twice included.
    mlist_delete_all();
    mlist_add("-V same");
    mlist_add("-V same");
    ASSERT_EQ(mlist_count(), 2);
    EXPECT_NE(mlist_machine(0)->pid, mlist_machine(1)->pid);
}

TEST_F(MachineList, AddingNeverMovesTheSelection)
{
    add(1);
    EXPECT_EQ(mlist_selected(), 0);
    add(4);
    EXPECT_EQ(mlist_selected(), 0);
    for (int i = 0; i < 3; ++i) mlist_select_next();
    add(1);
    EXPECT_EQ(mlist_selected(), 3);
    EXPECT_EQ(mlist_machine(3)->name, "-V m3");
}

TEST_F(MachineList, SelectionStopsAtBothEndsAndScrollsIntoView)
{
    use_rows(3);
    add(6);
    mlist_select_prev();
    EXPECT_EQ(mlist_selected(), 0);
    for (int i = 0; i < 10; ++i) mlist_select_next();
    EXPECT_EQ(mlist_selected(), 5);
    EXPECT_EQ(mlist_scroll(), 3);
    mlist_select_prev();
    mlist_select_prev();
    EXPECT_EQ(mlist_scroll(), 3); // the selection (3) is still in view
    mlist_select_prev();
    EXPECT_EQ(mlist_selected(), 2);
    EXPECT_EQ(mlist_scroll(), 2);
}

TEST_F(MachineList, DeletingTheLastSelectedMachineKeepsTheScroll)
{
    use_rows(2);
    add(3);
    mlist_select_next();
    mlist_select_next();
    ASSERT_EQ(mlist_scroll(), 1);
    mlist_delete_selected();
    EXPECT_EQ(mlist_count(), 2);
    EXPECT_EQ(mlist_selected(), 1);
    // Not pulled back to fill the empty row: machine 0 stays out of view above.
    EXPECT_EQ(mlist_scroll(), 1);
    mlist_delete_selected();
    EXPECT_EQ(mlist_selected(), 0);
    EXPECT_EQ(mlist_scroll(), 0);
}

// A new panel size reaches every terminal, dead ones too, and the machines added after it; the list
// window's new rows keep the selection in view and leave no blank rows while machines above are hidden.
TEST_F(MachineList, NewSizeReachesEveryTerminalAndKeepsTheScrollValid)
{
    use_rows(3);
    add(6);
    kill_machine(1);
    for (int i = 0; i < 5; ++i) mlist_select_next();
    ASSERT_EQ(mlist_scroll(), 3);
    wresize(win_, 2, 10);
    mlist_resize(7, 33);
    EXPECT_EQ(mlist_selected(), 5);
    EXPECT_EQ(mlist_scroll(), 4);
    add(1);
    for (int i = 0; i < mlist_count(); ++i) {
        EXPECT_EQ(tarvik_vt_rows(mlist_machine(i)->term.get()), 7) << i;
        EXPECT_EQ(tarvik_vt_cols(mlist_machine(i)->term.get()), 33) << i;
    }
    wresize(win_, 6, 10);
    mlist_resize(7, 33);
    EXPECT_EQ(mlist_scroll(), 1);
    EXPECT_EQ(mlist_selected(), 5);
}

TEST_F(MachineList, SelectionIsAPositionWhenTaggedMachinesBeforeItGo)
{
    add(5);
    mlist_select_next();
    mlist_select_next();
    mlist_toggle_tag(); // machine 2 is not deleted below: untag it again
    mlist_toggle_tag();
    mlist_machine(0)->tagged = true;
    mlist_machine(1)->tagged = true;
    mlist_delete_tagged();
    EXPECT_EQ(names(), (std::vector<std::string>{"-V m2", "-V m3", "-V m4"}));
    EXPECT_EQ(mlist_selected(), 2);
    EXPECT_EQ(mlist_machine(2)->name, "-V m4");
}

TEST_F(MachineList, TagOperationsTreatLiveAndDeadMachinesAsTold)
{
    add(4);
    kill_machine(1);
    kill_machine(3);
    ASSERT_FALSE(mlist_machine(1)->alive);
    ASSERT_TRUE(mlist_machine(0)->alive);
    auto tags = [] {
        std::string s;
        for (int i = 0; i < mlist_count(); ++i) s += static_cast<char>('0' + mlist_machine(i)->tagged);
        return s;
    };
    mlist_tag_all(false);
    EXPECT_EQ(tags(), "1111");
    mlist_tag_all(true);
    EXPECT_EQ(tags(), "1010"); // dead machines untagged
    mlist_toggle_tag_all(true);
    EXPECT_EQ(tags(), "0000");
    mlist_toggle_tag_all(false);
    EXPECT_EQ(tags(), "1111");
    mlist_untag_all();
    EXPECT_EQ(tags(), "0000");
    mlist_toggle_tag();
    EXPECT_EQ(tags(), "1000");
}

TEST_F(MachineList, DeadMachinesAreMarkedByPidAndDeletedTogether)
{
    use_rows(3);
    add(6);
    for (int i = 0; i < 5; ++i) mlist_select_next();
    kill_machine(0);
    kill_machine(4);
    kill_machine(5);
    // An exit for a pid no machine has changes nothing.
    mlist_child_exited(999999, 0);
    mlist_delete_dead();
    EXPECT_EQ(names(), (std::vector<std::string>{"-V m1", "-V m2", "-V m3"}));
    EXPECT_EQ(mlist_selected(), 2);
    EXPECT_LE(mlist_scroll(), 2);
    EXPECT_GE(mlist_scroll() + 3, 3);
}

// Machines of a held batch have no pid until their children start; an exit reaped after the release
// must still find its machine, and one of them deleted before its start leaves the rest in order.
TEST_F(MachineList, HeldMachinesTakeTheirPidsAsTheyAreReleased)
{
    tarvik_vt_hold_children();
    add(3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mlist_machine(i)->pid, 0);
        EXPECT_TRUE(mlist_machine(i)->alive);
    }
    mlist_delete_selected(); // machine 0, never started
    ASSERT_EQ(tarvik_vt_release_children(0), 1u);
    mlist_children_started();
    EXPECT_GT(mlist_machine(0)->pid, 0);
    EXPECT_EQ(mlist_machine(1)->pid, 0);
    ASSERT_EQ(tarvik_vt_release_children(10000), 1u);
    mlist_children_started();
    ASSERT_GT(mlist_machine(1)->pid, 0);
    EXPECT_NE(mlist_machine(0)->pid, mlist_machine(1)->pid);
    kill_machine(1);
    EXPECT_EQ(names(), (std::vector<std::string>{"-V m1", "-V m2"}));
    EXPECT_TRUE(mlist_machine(0)->alive);
    EXPECT_FALSE(mlist_machine(1)->alive);
}

// The screen of machine i, rows joined by "|".
std::string screen_of(int i)
{
    const TarvikVt *vt = mlist_machine(i)->term.get();
    std::string text;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r) text += vt_row_text(vt, r) + "|";
    return text;
}

// Updates the terminals until `done` holds, for up to 10 s.
template <typename Pred> bool update_until(Pred done)
{
    for (int i = 0; i < 1000 && !done(); ++i) {
        mlist_update();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// The note comes after what ssh printed last, once, however often the pid is reported again (a later
// child may reuse it); a normal exit is noted as well as a signal.
TEST_F(MachineList, EndedMachineSaysHowOnItsScreenOnce)
{
    mlist_init(win_, 6, 40);
    add(1);
    // A proxy that never answers keeps this ssh waiting for the server until it is killed; the proxy
    // ends with the hang-up of its terminal.
    Script proxy("exec sleep 30");
    mlist_add("-oProxyCommand=" + proxy.path + " m1");
    pid_t pid0 = mlist_machine(0)->pid;
    int status = 0;
    ASSERT_EQ(waitpid(pid0, &status, 0), pid0);
    mlist_child_exited(pid0, status);
    mlist_child_exited(pid0, status);
    vt_settle_forsaken(mlist_update);
    kill_machine(1);
    const std::string shown = screen_of(0);
    const size_t version = shown.find("OpenSSH");
    const size_t note = shown.find("[ssh exited with status 0]");
    ASSERT_NE(version, std::string::npos) << shown;
    EXPECT_GT(note, version) << shown;
    EXPECT_EQ(shown.find("[ssh", note + 1), std::string::npos) << shown;
    const TarvikVt *vt = mlist_machine(0)->term.get();
    EXPECT_EQ(tarvik_vt_cursor_col(vt), 26);
    EXPECT_NE(screen_of(1).find("[ssh ended by signal 9]"), std::string::npos) << screen_of(1);
}

// Only dead machines start again, each in its place with its tag, its shown name and a fresh screen,
// on the connection it was added with: a rename changes no destination.
TEST_F(MachineList, ReconnectRestartsDeadMachinesInPlaceOnTheirOriginalConnection)
{
    mlist_init(win_, 6, 40);
    add(3);
    mlist_machine(0)->tagged = true;
    mlist_rename_selected("renamed");
    const pid_t live = mlist_machine(1)->pid;
    kill_machine(0);
    kill_machine(2);
    mlist_reconnect_dead();
    // A batch: the list is drawn before the logins start.
    EXPECT_EQ(mlist_machine(0)->pid, 0);
    ASSERT_EQ(tarvik_vt_release_children(10000), 2u);
    mlist_children_started();
    EXPECT_EQ(names(), (std::vector<std::string>{"renamed", "-V m1", "-V m2"}));
    for (int i : {0, 2}) {
        EXPECT_TRUE(mlist_machine(i)->alive);
        EXPECT_GT(mlist_machine(i)->pid, 0);
        EXPECT_EQ(screen_of(i).find("[ssh"), std::string::npos) << screen_of(i);
    }
    EXPECT_TRUE(mlist_machine(0)->tagged);
    EXPECT_FALSE(mlist_machine(2)->tagged);
    EXPECT_EQ(mlist_machine(1)->pid, live);
    EXPECT_TRUE(update_until([] { return screen_of(0).find("OpenSSH") != std::string::npos; }))
        << screen_of(0);
    // With nothing dead it does nothing.
    const pid_t again = mlist_machine(0)->pid;
    mlist_reconnect_dead();
    EXPECT_EQ(tarvik_vt_release_children(0), 0u);
    EXPECT_EQ(mlist_machine(0)->pid, again);
}

TEST_F(MachineList, EmptyListOperationsDoNothing)
{
    mlist_toggle_tag();
    mlist_send_key('x');
    mlist_rename_selected("x");
    mlist_delete_selected();
    mlist_delete_tagged();
    mlist_delete_dead();
    mlist_select_next();
    mlist_select_prev();
    mlist_tag_all(false);
    mlist_update();
    EXPECT_EQ(mlist_count(), 0);
    EXPECT_EQ(mlist_selected(), 0);
    // Renaming acts on the selected machine only.
    add(2);
    mlist_select_next();
    mlist_rename_selected("renamed");
    EXPECT_EQ(names(), (std::vector<std::string>{"-V m0", "renamed"}));
}

} // namespace
