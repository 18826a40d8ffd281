// Children asked for while the program holds them start only when it lets them go: adding hundreds of
// machines must not compete with hundreds of logins for the processor.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/reap.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

// Updates the terminal for up to timeout_ms; true once it shows `text`.
bool shows(TarvikVt *vt, const std::string &text, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        tarvik_vt_update(vt);
        if (vt_flat_text(vt).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

// While held, a terminal is open and takes keys, but nothing runs; the release starts the children in
// order and gives each its pid, which is then the one to wait for.
TEST(HeldChildren, RunTheirCommandOnlyOnceReleasedAndThenHaveTheirPids)
{
    EXPECT_EQ(tarvik_vt_release_children(0), 0u); // nothing held: harmless
    tarvik_vt_hold_children();
    Vt a(tarvik_vt_create(3, 40));
    Vt b(tarvik_vt_create(3, 40));
    Vt bad(tarvik_vt_create(3, 60));
    Script reads("read x; echo got $x");
    EXPECT_EQ(tarvik_vt_forkpty(a.get(), "/bin/echo started a"), 0);
    EXPECT_EQ(tarvik_vt_forkpty(b.get(), reads.path.c_str()), 0);
    EXPECT_EQ(tarvik_vt_forkpty(bad.get(), "/nonexistent/held arg"), 0);
    EXPECT_EQ(tarvik_vt_pid(a.get()), 0);
    EXPECT_GE(tarvik_vt_fd(a.get()), 0);
    EXPECT_EQ(tarvik_vt_forkpty(a.get(), "/bin/echo twice"), -1); // one child per screen, held or not
    for (char c : std::string("early\r")) tarvik_vt_keypress(b.get(), c);
    EXPECT_FALSE(shows(a.get(), "started", 300));

    // A slice of no time still starts one; the rest wait for the next slice.
    EXPECT_EQ(tarvik_vt_held_children(), 3u);
    EXPECT_EQ(tarvik_vt_release_children(0), 1u);
    EXPECT_GT(tarvik_vt_pid(a.get()), 0);
    EXPECT_EQ(tarvik_vt_pid(b.get()), 0);
    EXPECT_EQ(tarvik_vt_held_children(), 2u);
    EXPECT_EQ(tarvik_vt_release_children(10000), 2u);
    EXPECT_EQ(tarvik_vt_held_children(), 0u);
    pid_t pa = tarvik_vt_pid(a.get());
    pid_t pb = tarvik_vt_pid(b.get());
    pid_t pbad = tarvik_vt_pid(bad.get());
    ASSERT_GT(pa, 0);
    ASSERT_GT(pb, 0);
    ASSERT_GT(pbad, 0);
    EXPECT_TRUE(pa < pb && pb < pbad) << "started out of order";
    EXPECT_TRUE(shows(a.get(), "started a", 5000));
    EXPECT_TRUE(shows(b.get(), "got early", 5000)) << "keys typed while held were lost";
    EXPECT_TRUE(shows(bad.get(), "quillor: cannot run /nonexistent/held: No such file", 5000));
    EXPECT_EQ(reap_child(pa), 0);
    EXPECT_EQ(reap_child(pb), 0);
    int status = reap_child(pbad);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);

    // Once released, children start at once again.
    Vt c(tarvik_vt_create(3, 40));
    pid_t pc = tarvik_vt_forkpty(c.get(), "/bin/echo at once");
    EXPECT_GT(pc, 0);
    EXPECT_EQ(tarvik_vt_pid(c.get()), pc);
    EXPECT_TRUE(shows(c.get(), "at once", 5000));
    EXPECT_EQ(reap_child(pc), 0);
}

TEST(HeldChildren, ADestroyedOrForsakenHeldTerminalNeverStartsAndTheOthersStillGo)
{
    std::string marker = "/tmp/quillor-held-marker-" + std::to_string(getpid());
    unlink(marker.c_str());
    tarvik_vt_hold_children();
    Vt gone(tarvik_vt_create(3, 40));
    Vt forsaken(tarvik_vt_create(3, 40));
    Vt kept(tarvik_vt_create(3, 40));
    ASSERT_EQ(tarvik_vt_forkpty(gone.get(), ("/usr/bin/touch " + marker).c_str()), 0);
    ASSERT_EQ(tarvik_vt_forkpty(forsaken.get(), ("/usr/bin/touch " + marker).c_str()), 0);
    ASSERT_EQ(tarvik_vt_forkpty(kept.get(), "/bin/echo kept"), 0);
    gone.reset();
    tarvik_vt_forsake_child(forsaken.get());
    EXPECT_EQ(tarvik_vt_pid(forsaken.get()), -1);
    EXPECT_EQ(tarvik_vt_release_children(10000), 1u);
    EXPECT_TRUE(shows(kept.get(), "kept", 5000));
    EXPECT_EQ(reap_child(tarvik_vt_pid(kept.get())), 0);
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "a held command ran after its terminal was gone";
    unlink(marker.c_str());
}

// The pacing of logins lets a few go at a time: a release starts no more than it is allowed, and a start
// asked for while others are still held waits behind them, even with the holding over.
TEST(HeldChildren, AReleaseStartsNoMoreThanAllowedAndLaterStartsWaitBehind)
{
    tarvik_vt_hold_children();
    Vt a(tarvik_vt_create(3, 40)), b(tarvik_vt_create(3, 40)), c(tarvik_vt_create(3, 40));
    ASSERT_EQ(tarvik_vt_forkpty(a.get(), "/bin/echo a"), 0);
    ASSERT_EQ(tarvik_vt_forkpty(b.get(), "/bin/echo b"), 0);
    EXPECT_EQ(tarvik_vt_release_children(10000, 1), 1u);
    EXPECT_EQ(tarvik_vt_forkpty(c.get(), "/bin/echo c"), 0);
    EXPECT_EQ(tarvik_vt_release_children(10000, 0), 0u);
    EXPECT_EQ(tarvik_vt_held_children(), 2u);
    EXPECT_EQ(tarvik_vt_release_children(10000), 2u);
    for (TarvikVt *vt : {a.get(), b.get(), c.get()}) ASSERT_GT(tarvik_vt_pid(vt), 0);
    EXPECT_LT(tarvik_vt_pid(b.get()), tarvik_vt_pid(c.get())) << "started out of order";
    for (TarvikVt *vt : {a.get(), b.get(), c.get()}) EXPECT_EQ(reap_child(tarvik_vt_pid(vt)), 0);
}

// Allows no descriptor beyond those open now, for as long as it lives.
struct NoMoreDescriptors {
    rlimit saved{};
    NoMoreDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        int lowest_free = dup(0);
        close(lowest_free);
        rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(lowest_free);
        setrlimit(RLIMIT_NOFILE, &none);
    }
    ~NoMoreDescriptors() { setrlimit(RLIMIT_NOFILE, &saved); }
};

// A terminal that cannot be opened, or that the child cannot take, leaves no child and says why: the
// machine must be shown dead, not alive for good with a blank screen.
TEST(HeldChildren, ATerminalThatCannotBeStartedSaysWhyAndHasNoChild)
{
    Vt now(tarvik_vt_create(3, 60));
    {
        NoMoreDescriptors limit;
        EXPECT_EQ(tarvik_vt_forkpty(now.get(), "/bin/echo never"), -1);
    }
    EXPECT_EQ(tarvik_vt_pid(now.get()), -1);
    EXPECT_EQ(tarvik_vt_fd(now.get()), -1);
    EXPECT_TRUE(shows(now.get(), "quillor: cannot start a terminal: Too many open files", 0));

    // Held, the terminal opens; the child then has no descriptor left to take it with.
    tarvik_vt_hold_children();
    Vt held(tarvik_vt_create(3, 60));
    ASSERT_EQ(tarvik_vt_forkpty(held.get(), "/bin/echo never"), 0);
    {
        NoMoreDescriptors limit;
        EXPECT_EQ(tarvik_vt_release_children(10000), 1u);
    }
    EXPECT_EQ(tarvik_vt_pid(held.get()), -1);
    EXPECT_EQ(tarvik_vt_fd(held.get()), -1);
    EXPECT_TRUE(shows(held.get(), "quillor: cannot start a terminal: Too many open files", 0));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left to reap";
}

} // namespace
