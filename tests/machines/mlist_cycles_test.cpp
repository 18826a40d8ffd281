// Adding and deleting machines for a long session: nothing may pile up.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/mlist.h"
#include "support/curses_screen.h"
#include "support/quillor_session.h"
#include "support/reap.h"
#include "support/silent_listener.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of live allocations (its header comes with clang, not with g++).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

size_t open_descriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Bytes the program holds allocated right now, from whichever allocator it runs on.
size_t allocated_bytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Generous: a hung-up ssh ends within milliseconds, but a loaded machine may be slow to run it.
constexpr int kReapAllMs = 60000;

// Half the machines' ssh has already ended when they are deleted, half still waits on a silent port
// and is hung up by the deletion. After a thousand cycles the descriptors and the memory are where
// they were, and every child has ended.
TEST(MachineListCycles, ThousandAddsAndDeletesLeaveDescriptorsMemoryAndProcessesAsFound)
{
    constexpr int kWarmUp = 20;
    constexpr int kCycles = 1000;
    // A leak of 17 bytes a cycle would already show; this leaves room only for allocator caches that
    // settle.
    constexpr size_t kMemorySlack = 16 * 1024;

    CursesScreen screen(25, 80);
    WINDOW *list = newwin(22, 10, 1, 0);
    mlist_init(list, 22, 69);
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    auto cycle = [&](int i) {
        mlist_add(i % 2 ? "-V c" + std::to_string(i) : port.name());
        mlist_update();
        mlist_delete_selected();
        reap_children(0);
    };
    for (int i = 0; i < kWarmUp; ++i) cycle(i);
    reap_children(kReapAllMs);
    const size_t fds_before = open_descriptors();
    const size_t bytes_before = allocated_bytes();

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCycles; ++i) cycle(i);
    reap_children(kReapAllMs);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();

    EXPECT_EQ(mlist_count(), 0);
    EXPECT_EQ(open_descriptors(), fds_before);
    const size_t bytes_after = allocated_bytes();
    EXPECT_LE(bytes_after, bytes_before + kMemorySlack) << bytes_before << " -> " << bytes_after;
    for (pid_t kid : process_children(getpid())) {
        std::ifstream cmdline("/proc/" + std::to_string(kid) + "/cmdline");
        std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        for (char &c : args)
            if (c == '\0') c = ' ';
        ADD_FAILURE() << "child " << kid << " still runs: " << args;
    }
    std::printf("%d cycles in %lld ms; descriptors %zu -> %zu; allocated bytes %zu -> %zu\n", kCycles,
                static_cast<long long>(ms), fds_before, open_descriptors(), bytes_before, bytes_after);
    delwin(list);
}

} // namespace
