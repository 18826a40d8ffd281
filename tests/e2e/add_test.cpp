// Adding machines with F5: by name into a real shell, from a file, and from QUILLOR_AT_COMMAND.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class E2eAdd : public ::testing::Test {
protected:
    // The "@" form reads a file unless this is set; the tests that want it set it for quillor alone.
    void SetUp() override { unsetenv("QUILLOR_AT_COMMAND"); }
};

// A dead machine's list row: bold black, on red when selected.
bool shows_dead(const ReadCell &c, bool selected)
{
    return has_colours(c, 0, selected ? 1 : 0, true);
}

TEST_F(E2eAdd, NameLogsIntoShellShownInTerminalPanel)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind("Add: ", 0) == 0; }))
        << q.dump();
    EXPECT_TRUE(has_colours(q.minibuf_cell(0), 6, 0, true));
    const std::string name = sshd->add_name(1);
    q.send(name + keys::Enter);

    // The first machine is the selected one: white on red, the name cut to the list width.
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 1; })) << q.dump();
    EXPECT_EQ(q.list_row(0), " " + name.substr(0, 8) + " ");
    EXPECT_TRUE(has_colours(q.list_cell(0), 7, 1, false));
    // Its shell's prompt, then a command typed into it runs there.
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("echo UP_$((20+1))\r");
    ASSERT_TRUE(q.terminal_shows("UP_21")) << q.dump();
    EXPECT_EQ(q.minibuf_text().find("singlecast mode"), 65u);
}

// Names are separated by any white space, blank lines included, and keep the file's order. They
// cannot be resolved, so their ssh children end within milliseconds of each other, and each must
// still be shown dead.
TEST_F(E2eAdd, FileAddsEveryNameInOrderAndAllShowDead)
{
    // Short, so that "@" and the path fit the 63 characters the prompt takes.
    char tmpl[] = "/tmp/quillor-add.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const struct RemoveDir {
        std::string path;
        ~RemoveDir() { std::filesystem::remove_all(path); }
    } dir{tmpl};
    const std::string path = dir.path + "/names";
    std::ofstream(path) << "a.invalid b.invalid\n\nc.invalid\n";

    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add("@" + path, 3)) << q.dump();
    EXPECT_EQ(q.list_row(0), " a.invali ");
    EXPECT_EQ(q.list_row(1), " b.invali ");
    EXPECT_EQ(q.list_row(2), " c.invali ");
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
        return shows_dead(q.list_cell(0), true) && shows_dead(q.list_cell(1), false) &&
               shows_dead(q.list_cell(2), false);
    })) << q.dump();
    // The selected dead machine still shows what ssh said before it ended.
    EXPECT_NE(q.terminal_flat().find("a.invalid"), std::string::npos) << q.dump();
}

// The text after "@" reaches the command as typed, so it may hold several arguments; and a word
// longer than any fixed buffer reaches ssh whole (ssh's complaint about the unknown option quotes it,
// lower-cased, in full).
TEST_F(E2eAdd, CommandPrintsNamesOfAnyLength)
{
    QuillorSession q({}, 25, 80, {"QUILLOR_AT_COMMAND=echo"});
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add("@p.invalid q.invalid", 2)) << q.dump();
    EXPECT_EQ(q.list_row(0), " p.invali ");
    EXPECT_EQ(q.list_row(1), " q.invali ");

    const std::string long_word = "-o" + std::string(200, 'Q') + "END=yes";
    QuillorSession l({}, 25, 80, {"QUILLOR_AT_COMMAND=echo " + long_word});
    ASSERT_TRUE(l.skip_splash()) << l.dump();
    ASSERT_TRUE(l.add("@", 1)) << l.dump();
    EXPECT_TRUE(l.wait_for([&](const ScreenReader &) {
        return l.terminal_flat().find(std::string(200, 'q') + "end") != std::string::npos;
    })) << l.dump();
}

// The names a failing command printed are still added; the failure is reported in bold white on red
// and stays until a key is pressed.
TEST_F(E2eAdd, FailingCommandAddsItsNamesAndReportsError)
{
    QuillorSession q({}, 25, 80, {"QUILLOR_AT_COMMAND=sh -c 'echo f1.invalid f2.invalid; exit 3'"});
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5 + "@" + keys::Enter);
    const std::string error = "Command given by QUILLOR_AT_COMMAND exited with error.";
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(error, 0) == 0; }))
        << q.dump();
    EXPECT_TRUE(has_colours(q.minibuf_cell(0), 7, 1, true));
    q.send("x");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 2; })) << q.dump();
    EXPECT_EQ(q.list_row(0), " f1.inval ");
    EXPECT_EQ(q.list_row(1), " f2.inval ");
    EXPECT_TRUE(
        q.wait_for([&](const ScreenReader &) { return q.minibuf_text().find(error) == std::string::npos; }));
}

// Without QUILLOR_AT_COMMAND, "@" alone names an empty file name: an error, and nothing added.
TEST_F(E2eAdd, AtAloneWithoutCommandCannotReadFile)
{
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5 + "@" + keys::Enter);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().rfind("Can't read that file.", 0) == 0;
    })) << q.dump();
    EXPECT_TRUE(has_colours(q.minibuf_cell(0), 7, 1, true));
    q.send(" ");
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.minibuf_text().find("singlecast mode") != std::string::npos;
    })) << q.dump();
    EXPECT_EQ(q.list_count(), 0);
    EXPECT_GT(q.pid(), 0);
}

} // namespace
