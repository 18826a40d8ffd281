// Updating many screens at once takes in the output of every terminal that has some, sees the end of
// those whose child has gone, and leaves the quiet ones as they are.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "term/tarvik.h"

namespace
{

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

std::string row0(const TarvikVt *vt)
{
    std::string s;
    for (int c = 0; c < tarvik_vt_cols(vt); ++c)
        s += static_cast<char>(tarvik_vt_cell(vt, 0, c).ch);
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
    for (pid_t p : {p1, p2, p3})
        waitpid(p, nullptr, 0);
}

} // namespace
