// A program on a pseudo-terminal of a chosen size, read by the harness itself in a tight loop.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/screen_reader.h"

using Clock = std::chrono::steady_clock;

// Milliseconds between two instants, as a double.
double ms_between(Clock::time_point from, Clock::time_point to);

class PtySession {
public:
    // Starts argv[0] (a path) with argv on a terminal of rows x cols, in the harness's environment.
    PtySession(const std::vector<std::string> &argv, int rows, int cols);
    // Ends the program (hang-up, then SIGTERM, then SIGKILL) and reaps it.
    ~PtySession();
    PtySession(const PtySession &) = delete;
    PtySession &operator=(const PtySession &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const ScreenReader &screen() const { return screen_; }

    // Writes all of the bytes to the terminal, as typing or a paste would, reading the program's output
    // whenever the terminal takes no more; gives up after 60 s in which the program took nothing.
    void send(std::string_view bytes);

    // Waits up to timeout_ms for output, then takes everything there is into the screen. Returns the
    // number of bytes read; the instant of the last read is kept for wait_for.
    size_t pump(int timeout_ms);
    // Reads until pred(screen) holds; the instant of the read after which it first held, or nothing
    // after the time-out or when the program has gone.
    std::optional<Clock::time_point> wait_for(const std::function<bool(const ScreenReader &)> &pred,
                                              int timeout_ms);
    bool wait_text(const std::string &text, int timeout_ms);
    // Reads until nothing came for quiet_ms, or max_ms passed.
    void settle(int quiet_ms, int max_ms);
    // Reads as fast as possible without emulating the screen, until `marker` appears in the raw
    // output; the instant of that read, or nothing after the time-out.
    std::optional<Clock::time_point> wait_raw(const std::string &marker, int timeout_ms);
    // Keeps reading for this long, so the program never blocks on a full terminal.
    void idle(int ms) { settle(ms + 1, ms); }

private:
    ssize_t read_some(char *buf, size_t len);
    pid_t pid_ = -1;
    int master_ = -1;
    bool eof_ = false;
    ScreenReader screen_;
    Clock::time_point last_read_{};
};

// The text of cells [from, to) of a screen row.
std::string screen_cells(const ScreenReader &s, int row, int from, int to);
