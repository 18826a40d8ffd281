// The user's terminal comes back as it was however quillor is ended: here the moments the other
// tests leave out, before the main loop runs and while a dialog holds the screen.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <string>

namespace {

void expect_terminal_restored(QuillorSession &q)
{
    EXPECT_EQ(q.modes_after(), q.modes_before());
    EXPECT_FALSE(q.modes_before().empty());
    EXPECT_TRUE(q.terminal_modes_reset());
    EXPECT_TRUE(q.wait_for_text("QUILLOR_AFTER=")) << "back on the normal screen" << q.dump();
    EXPECT_TRUE(q.screen().cursor_visible());
}

// The splash waits seconds for a key with curses already in raw mode; a signal then must not leave
// the terminal raw and on the alternate screen. Likewise with the "Add: " prompt open, and while a
// machine-list command runs.
TEST(E2eReliabilityTerminal, SignalsDuringSplashPromptAndCommandRestoreTerminal)
{
    enum class Moment { Splash, Prompt, Command };
    const std::pair<Moment, const char *> moments[] = {
        {Moment::Splash, "splash"}, {Moment::Prompt, "prompt"}, {Moment::Command, "command"}};
    for (const auto &[moment, what] : moments) {
        for (int sig : {SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(what) + " " + strsignal(sig));
            QuillorSession q({}, 25, 80, {"QUILLOR_AT_COMMAND=sleep 5; echo"});
            ASSERT_TRUE(q.wait_for_text("Quillor v" QUILLOR_VERSION)) << q.dump();
            if (moment != Moment::Splash) {
                ASSERT_TRUE(q.skip_splash()) << q.dump();
                q.send(keys::F5);
                ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
                    return q.minibuf_text().rfind("Add: ", 0) == 0;
                })) << q.dump();
            }
            if (moment == Moment::Command) {
                q.send("@" + keys::Enter);
                ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
                    return q.minibuf_text().rfind("Adding machines supplied by command...", 0) == 0;
                })) << q.dump();
            }
            ASSERT_EQ(kill(q.pid(), sig), 0);
            const int status = q.wait_status();
            ASSERT_NE(status, -1) << q.dump();
            EXPECT_EQ(status, 128 + sig) << q.dump();
            expect_terminal_restored(q);
        }
    }
}

} // namespace
