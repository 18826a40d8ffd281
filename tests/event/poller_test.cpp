// The kept epoll set against poll(2) itself: whatever happened to the descriptors between two waits,
// both must report the same.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "event/poller.h"
#include "support/temp_dir.h"
#include "term/fd.h"

namespace {

struct Pipe {
    Fd r, w;
};

Pipe make_pipe()
{
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    return {Fd(fds[0]), Fd(fds[1])};
}

void expect_as_poll(std::vector<pollfd> fds, const std::string &step)
{
    std::vector<pollfd> expected = fds;
    int want = poll(expected.data(), expected.size(), 0);
    int got = poller_wait(fds, 0, nullptr);
    EXPECT_EQ(got, want) << step;
    for (size_t i = 0; i < fds.size(); ++i)
        EXPECT_EQ(fds[i].revents, expected[i].revents)
            << step << ", entry " << i << " (fd " << fds[i].fd << ")";
}

TEST(Poller, ReportsWhatPollReportsAsTheDescriptorsChange)
{
    Pipe a = make_pipe(), b = make_pipe();
    TempDir dir;
    std::vector<pollfd> set = {{a.r.get(), POLLIN, 0}, {b.r.get(), POLLIN, 0}, {-1, POLLIN, 0}};
    expect_as_poll(set, "nothing to read");
    ASSERT_EQ(write(a.w.get(), "x", 1), 1);
    expect_as_poll(set, "one readable");
    // The same descriptor in two entries, one of them also asking whether it can be written.
    set.push_back({a.w.get(), POLLOUT, 0});
    set.push_back({a.r.get(), POLLIN | POLLOUT, 0});
    expect_as_poll(set, "entries sharing a descriptor");
    set.resize(2);
    expect_as_poll(set, "entries dropped");
    b.w.reset();
    expect_as_poll(set, "writer gone: hang-up");
    // Closed and its number given to a new pipe with something in it: the set must not go on watching
    // the old file, nor miss the new one.
    int number = b.r.get();
    b.r.reset();
    Pipe c = make_pipe();
    ASSERT_EQ(c.r.get(), number);
    ASSERT_EQ(write(c.w.get(), "y", 1), 1);
    expect_as_poll(set, "number reused");
    // What epoll cannot watch: a regular file, and a number no longer open.
    Fd file(open(dir.write("plain", "text").c_str(), O_RDONLY | O_CLOEXEC));
    set.push_back({file.get(), POLLIN, 0});
    expect_as_poll(set, "regular file");
    set.back().fd = 1000;
    expect_as_poll(set, "closed number");
    set.pop_back();
    expect_as_poll(set, "back to the pipes");
}

TEST(Poller, SleepsUntilADescriptorIsReady)
{
    Pipe p = make_pipe();
    std::vector<pollfd> set = {{p.r.get(), POLLIN, 0}};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        (void)!write(p.w.get(), "z", 1);
    });
    EXPECT_EQ(poller_wait(set, 10000, nullptr), 1);
    EXPECT_EQ(set[0].revents, POLLIN);
    writer.join();
    set[0].revents = 0;
    char c;
    ASSERT_EQ(read(p.r.get(), &c, 1), 1);
    EXPECT_EQ(poller_wait(set, 20, nullptr), 0);
}

} // namespace
