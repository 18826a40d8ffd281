// An 80 x 25 (or taller) curses screen in the program's input modes, with a minibuffer window on its bottom
// row, for tests that type keys at the dialogs and read what they drew.
#pragma once

#include <curses.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "event/wait.h"
#include "screen/colors.h"
#include "support/curses_screen.h"
#include "term/tarvik.h"

class DialogScreen : public ::testing::Test {
protected:
    explicit DialogScreen(int rows = 25) : screen_(rows, 80)
    {
        start_color();
        tarvik_colors_init();
        keypad(stdscr, TRUE);
        wtimeout(stdscr, 200);
        raw();
        noecho();
        // A lone Escape is reported after this delay; the default second would only slow the tests.
        set_escdelay(100);
        // As at start-up: a standard screen never refreshed would be painted over everything by the
        // first wgetch on it.
        wclear(stdscr);
        wrefresh(stdscr);
        minibuf_ = newwin(1, COLS, LINES - 1, 0);
        // A dialog that misses its closing key would otherwise wait for ever.
        alarm(60);
        static bool guarded = atexit(fail_exit_inside_test) == 0;
        (void)guarded;
        inside_test() = true;
    }
    ~DialogScreen() override
    {
        inside_test() = false;
        alarm(0);
        delwin(minibuf_);
    }

    // A quit that should not have happened would end the test run early with status 0, which reads
    // as a pass; a process that means to exit clears this first.
    static bool &inside_test()
    {
        static bool inside = false;
        return inside;
    }
    static void fail_exit_inside_test()
    {
        if (!inside_test()) return;
        static const char msg[] = "the process exited in the middle of a test\n";
        (void)!write(2, msg, sizeof msg - 1);
        _exit(1);
    }

    // The bytes the terminal sends for a key, from its terminfo entry ("kf1", "kcuu1", "kent" ...).
    static std::string key(const char *capability)
    {
        const char *s = tigetstr(capability);
        if (s && s != reinterpret_cast<const char *>(-1)) return s;
        ADD_FAILURE() << "the terminal description has no " << capability;
        return "";
    }

    // Waits up to 5 s until what curses drew satisfies pred.
    bool wait_screen(const std::function<bool(const ScreenReader &)> &pred)
    {
        for (int i = 0; i < 500; ++i) {
            if (pred(screen_.terminal())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool wait_row(int row, const std::string &prefix)
    {
        return wait_screen([&](const ScreenReader &t) { return t.row_text(row).rfind(prefix, 0) == 0; });
    }

    // The next key the program would read, or -1 when none is waiting.
    static int leftover_key() { return wait_key_now(); }
    // Drops every key left from an earlier case.
    static void discard_keys()
    {
        while (wait_key_now() != ERR) {
        }
    }

    CursesScreen screen_;
    WINDOW *minibuf_ = nullptr;
};

// Runs a dialog on its own thread, so the test can look at the screen while the dialog waits for
// keys. Only the dialog touches curses until it is joined.
class DialogThread {
public:
    explicit DialogThread(std::function<void()> dialog)
        : thread_([this, dialog = std::move(dialog)] {
              dialog();
              done_ = true;
          })
    {
    }
    ~DialogThread() { join(); }
    bool done() const { return done_; }
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
