// A program run on a pseudo-terminal of a chosen size, with what it draws read through ScreenReader.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/screen_reader.h"

class PtyProcess {
public:
    // Starts argv[0] (a path) with argv on a terminal of rows x cols. `env` entries ("NAME=value") are
    // added to, or replace, the test's own environment; TERM is xterm-256color unless given.
    PtyProcess(const std::vector<std::string> &argv, int rows, int cols,
               const std::vector<std::string> &env = {});
    ~PtyProcess(); // kills the process if it still runs

    void send(const std::string &bytes);
    // Gives the terminal a new size, as a terminal emulator does when its window is resized: the
    // screen reader first, then the kernel's size, which sends SIGWINCH to the program.
    void resize(int rows, int cols);
    // Waits until pred(screen) holds; false after the time-out.
    bool wait_for(const std::function<bool(const ScreenReader &)> &pred, int timeout_ms = 10000);
    bool wait_for_text(const std::string &text, int timeout_ms = 10000);
    // Waits for the process to end; returns its wait status, or -1 after the time-out.
    int wait_exit(int timeout_ms = 10000);
    std::string output() const; // everything the program wrote, raw
    // Waits until the program has written nothing for `quiet_ms`, at most `timeout_ms`: what it drew in
    // one go has then been read whole, not only the part a condition looked at.
    void wait_quiet(int quiet_ms, int timeout_ms);
    const ScreenReader &screen() const { return screen_; }
    pid_t pid() const { return pid_; }
    int master() const { return master_; }
    bool running();

private:
    void reader();
    ScreenReader screen_;
    pid_t pid_ = -1;
    int master_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::string output_;
};

// Key sequences an xterm sends.
namespace keys {
inline const std::string F1 = "\x1bOP", F2 = "\x1bOQ", F3 = "\x1bOR", F4 = "\x1bOS";
inline const std::string F5 = "\x1b[15~", F6 = "\x1b[17~", F7 = "\x1b[18~", F8 = "\x1b[19~";
inline const std::string Enter = "\r", Escape = "\x1b", CtrlC = "\x03";
} // namespace keys
