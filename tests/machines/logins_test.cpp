// A login's life and the queue's pacing on a clock the test moves: when a login holds its slot, what
// the counts call it, and when the next queued one may start.
#include "machines/logins.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

// One thing that happens to a login at a time, and what must hold after it.
struct Step {
    enum { See, Tick, End } what;
    long at_ms;
    LineLook look; // for See
    FleetState state;
    bool holds;
    long due_ms;
};

TEST(Logins, ALoginHoldsItsSlotUntilAPromptQuietAnEndOrTheTimeOut)
{
    using L = LineLook;
    using F = FleetState;
    const long quiet = kLoginQuietMs, timeout = kLoginTimeoutMs;
    struct Case {
        const char *name;
        std::vector<Step> steps; // after a start at 0
    };
    const Case cases[] = {
        {"a shell prompt ends it", {{Step::See, 400, L::ShellPrompt, F::Up, false, -1}}},
        {"quiet after printing ends it",
         {{Step::See, 100, L::Other, F::LoggingIn, true, quiet},
          {Step::Tick, 100 + quiet - 1, L::Other, F::LoggingIn, true, 1},
          {Step::Tick, 100 + quiet, L::Other, F::Up, false, -1}}},
        {"asking holds the slot with no time-out, and the answer goes on to the shell",
         {{Step::See, 200, L::Asking, F::Asking, true, -1},
          {Step::Tick, 10 * timeout, L::Other, F::Asking, true, -1},
          {Step::See, 10 * timeout + 5, L::Other, F::LoggingIn, true, quiet},
          {Step::Tick, 10 * timeout + 5 + quiet - 1, L::Other, F::LoggingIn, true, 1},
          {Step::See, 10 * timeout + 9 + quiet, L::ShellPrompt, F::Up, false, -1}}},
        {"a login that gave its slot up takes one again while it asks",
         {{Step::Tick, timeout, L::Other, F::LoggingIn, false, -1},
          {Step::See, timeout + 10, L::Asking, F::Asking, true, -1},
          {Step::See, timeout + 20, L::Other, F::LoggingIn, true, quiet}}},
        {"silence gives the slot up at the time-out, still logging in",
         {{Step::Tick, timeout - 1, L::Other, F::LoggingIn, true, 1},
          {Step::Tick, timeout, L::Other, F::LoggingIn, false, -1},
          {Step::See, timeout + 50, L::ShellPrompt, F::Up, false, -1}}},
        {"an end frees it at once", {{Step::End, 300, L::Other, F::Dead, false, -1}}},
        {"a question after the login counts as asking and holds nothing",
         {{Step::See, 100, L::ShellPrompt, F::Up, false, -1},
          {Step::See, 900, L::Asking, F::Asking, false, -1},
          {Step::See, 950, L::ShellPrompt, F::Up, false, -1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Login l;
        login_queue(l);
        EXPECT_EQ(login_state(l), F::Queued);
        EXPECT_FALSE(login_holds_slot(l));
        EXPECT_EQ(login_due_ms(l, 0), -1);
        login_start(l, 7, 0);
        EXPECT_EQ(login_state(l), F::LoggingIn);
        EXPECT_TRUE(login_holds_slot(l));
        EXPECT_EQ(login_due_ms(l, 0), timeout);
        unsigned long version = 7;
        for (const Step &s : c.steps) {
            SCOPED_TRACE("at " + std::to_string(s.at_ms));
            if (s.what == Step::See) login_see(l, ++version, s.look, s.at_ms);
            if (s.what == Step::Tick) login_tick(l, s.at_ms);
            if (s.what == Step::End) login_end(l);
            EXPECT_EQ(login_state(l), s.state);
            EXPECT_EQ(login_holds_slot(l), s.holds);
            EXPECT_EQ(login_due_ms(l, s.at_ms), s.due_ms);
            EXPECT_EQ(l.seen, version);
        }
    }
}

TEST(Logins, PacingLetsThroughWhatTheSlotsAndTheIntervalAllow)
{
    const size_t all = std::numeric_limits<size_t>::max();
    struct Case {
        LoginPacing pacing;
        size_t holding;
        long last_start_ms, now_ms;
        size_t startable;
        long due_ms;
    };
    const Case cases[] = {
        {{8, 0}, 0, -1, 0, 8, 0},
        {{8, 0}, 5, 100, 100, 3, 0},
        {{8, 0}, 8, 100, 5000, 0, -1},
        {{8, 0}, 9, 100, 5000, 0, -1}, // more than the slots (started before the limit was known)
        {{0, 0}, 200, 100, 100, all, 0},
        {{8, 500}, 0, -1, 0, 1, 0},
        {{8, 500}, 1, 1000, 1400, 0, 100},
        {{8, 500}, 1, 1000, 1500, 1, 0},
        {{8, 500}, 8, 1000, 1500, 0, -1},
        {{0, 250}, 100, 1000, 1100, 0, 150},
        {{1, 0}, 0, 1000, 1000, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("-P " + std::to_string(c.pacing.at_once) + " -I " +
                     std::to_string(c.pacing.interval_ms) + ", " + std::to_string(c.holding) +
                     " holding at " + std::to_string(c.now_ms));
        EXPECT_EQ(logins_startable(c.pacing, c.holding, c.last_start_ms, c.now_ms), c.startable);
        EXPECT_EQ(logins_start_due_ms(c.pacing, c.holding, c.last_start_ms, c.now_ms), c.due_ms);
    }
}

} // namespace
