// Machines named on the command line: logged in at start-up, without the splash, and a file that cannot
// be read refused before the screen is taken.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "support/temp_dir.h"

namespace {

class E2eCmdline : public ::testing::Test {
protected:
    // "@" names a file unless this is set; the tests that want it set it for quillor alone.
    void SetUp() override { unsetenv("QUILLOR_AT_COMMAND"); }
};

// Both machines log in without a key pressed: no splash waits for one, and the first is selected.
// Their names begin with "-F", so they come after "--".
TEST_F(E2eCmdline, NamesLogInAtStartWithoutSplash)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({"--", sshd->add_name(1), sshd->add_name(2)}, 25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    EXPECT_EQ(q.screen().row_text(12).find("Quillor v" QUILLOR_VERSION), std::string::npos) << "splash shown";
    EXPECT_TRUE(has_colours(q.list_cell(0), 7, 1, false)) << "first machine not selected";
    for (int i : {0, 1}) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(q.select(i)) << q.dump();
        q.send("echo UP_$((40+" + std::to_string(i) + "))\r");
        EXPECT_TRUE(q.terminal_shows("UP_" + std::to_string(40 + i))) << q.dump();
    }
    EXPECT_EQ(q.quit(), 0);
}

// Names, files and options mix in the order given; options may follow names.
TEST_F(E2eCmdline, FileAndNamesAddedInOrder)
{
    TempDir dir;
    const std::string path = dir.write("names", "b.invalid\nc.invalid\n");
    QuillorSession q({"a.invalid", "@" + path, "d.invalid", "-W", "3"}, 25, 80);
    const char *shown[] = {" a.i ", " b.i ", " c.i ", " d.i "};
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) { return screen_cells(s, 4, 0, 5) == shown[3]; }))
        << q.dump();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(screen_cells(q.screen(), i + 1, 0, 5), shown[i]) << q.dump();
}

// A file that cannot be read ends quillor at once, with the file and the reason, status 1, and not one
// byte that could change the terminal; a directory is no file of names either.
TEST_F(E2eCmdline, UnreadableFileRefusedBeforeScreenIsTaken)
{
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {dir.path + "/missing", "No such file or directory"},
        {dir.path, "Is a directory"},
    };
    for (const auto &[path, reason] : cases) {
        SCOPED_TRACE(path);
        QuillorSession q({"a.invalid", "@" + path}, 25, 80);
        ASSERT_EQ(q.wait_status(), 1) << q.dump();
        EXPECT_EQ(q.program_output(), "quillor: cannot read " + path + ": " + reason + "\n");
        EXPECT_EQ(q.modes_after(), q.modes_before());
    }
}

// With QUILLOR_AT_COMMAND set the text is the command's, as at the prompt: a failing command keeps
// the names it printed and shows its error.
TEST_F(E2eCmdline, FailingCommandKeepsNamesAndShowsError)
{
    QuillorSession q({"@x"}, 25, 80, {"QUILLOR_AT_COMMAND=sh -c 'echo f1.invalid f2.invalid; exit 3'"});
    const std::string error = "Command given by QUILLOR_AT_COMMAND exited with error.";
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(error, 0) == 0; }))
        << q.dump();
    q.send(" ");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    EXPECT_EQ(q.list_row(0), " f1.inval ");
}

} // namespace
