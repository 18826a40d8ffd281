// Children started while the program holds them wait, alive, until it lets them go: adding hundreds of
// machines must not compete with hundreds of logins for the processor.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "term/tarvik.h"

namespace
{

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

std::string screen_text(const TarvikVt *vt)
{
    std::string s;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r)
        for (int c = 0; c < tarvik_vt_cols(vt); ++c)
            s += static_cast<char>(tarvik_vt_cell(vt, r, c).ch);
    return s;
}

// Updates the terminal for up to timeout_ms; true once it shows `text`.
bool shows(TarvikVt *vt, const std::string &text, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        tarvik_vt_update(vt);
        if (screen_text(vt).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

bool exits(pid_t pid)
{
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(HeldChildren, RunTheirCommandOnlyOnceReleased)
{
    tarvik_vt_release_children(); // nothing waits: harmless
    tarvik_vt_hold_children();
    Vt a(tarvik_vt_create(3, 40));
    Vt b(tarvik_vt_create(3, 40));
    pid_t pa = tarvik_vt_forkpty(a.get(), "/bin/echo started a");
    pid_t pb = tarvik_vt_forkpty(b.get(), "/bin/echo started b");
    ASSERT_GT(pa, 0);
    ASSERT_GT(pb, 0);
    EXPECT_FALSE(shows(a.get(), "started", 300));
    EXPECT_EQ(waitpid(pa, nullptr, WNOHANG), 0); // waiting, not gone
    tarvik_vt_release_children();
    EXPECT_TRUE(shows(a.get(), "started a", 5000));
    EXPECT_TRUE(shows(b.get(), "started b", 5000));
    EXPECT_TRUE(exits(pa));
    EXPECT_TRUE(exits(pb));

    // Once released, children start at once again.
    Vt c(tarvik_vt_create(3, 40));
    pid_t pc = tarvik_vt_forkpty(c.get(), "/bin/echo at once");
    EXPECT_TRUE(shows(c.get(), "at once", 5000));
    EXPECT_TRUE(exits(pc));
}

TEST(HeldChildren, AHungUpChildNeverRunsItsCommandAndTheOthersStillGo)
{
    tarvik_vt_hold_children();
    Vt gone(tarvik_vt_create(3, 40));
    Vt kept(tarvik_vt_create(3, 40));
    pid_t pg = tarvik_vt_forkpty(gone.get(), "/bin/echo must not run");
    pid_t pk = tarvik_vt_forkpty(kept.get(), "/bin/echo kept");
    kill(pg, SIGHUP);
    EXPECT_TRUE(exits(pg));
    // The release must not stop at the child that is no longer there to read its turn.
    tarvik_vt_release_children();
    EXPECT_FALSE(shows(gone.get(), "must not run", 200));
    EXPECT_TRUE(shows(kept.get(), "kept", 5000));
    EXPECT_TRUE(exits(pk));
}

} // namespace
