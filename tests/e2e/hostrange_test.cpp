// Host ranges wherever names come from: typed, in a file, on the command line; what stays literal, and
// the list's capacity as the bound of a huge range.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

class E2eHostrange : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("QUILLOR_AT_COMMAND"); }

    // The list rows from the top, as shown with the default width.
    static std::vector<std::string> rows(const QuillorSession &q)
    {
        std::vector<std::string> shown;
        for (int i = 0; i < q.list_count(); ++i) shown.push_back(q.list_row(i));
        return shown;
    }
};

// A typed range and one in a file both expand in order, padding kept; a bracket holding no range is
// part of the name and reaches ssh as written.
TEST_F(E2eHostrange, TypedAndFileRangesExpandOthersStayLiteral)
{
    TempDir dir;
    const std::string path = dir.write("names", "f[08-10].invalid\n");
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(q.add("r[1-2]n[1-2].invalid", 4)) << q.dump();
    ASSERT_TRUE(q.add("@" + path, 7)) << q.dump();
    ASSERT_TRUE(q.add("w[3-1].invalid", 8)) << q.dump();
    EXPECT_EQ(rows(q), (std::vector<std::string>{" r1n1.inv ", " r1n2.inv ", " r2n1.inv ", " r2n2.inv ",
                                                 " f08.inva ", " f09.inva ", " f10.inva ", " w[3-1].i "}));
    ASSERT_TRUE(q.select(7)) << q.dump();
    EXPECT_TRUE(q.terminal_shows("w[3-1].invalid")) << q.dump();
}

// A file and a range on the command line, with the first machine selected.
TEST_F(E2eHostrange, RangeAndFileOnCommandLine)
{
    TempDir dir;
    const std::string path = dir.write("names", "x.invalid\n");
    QuillorSession q({"db[1-2,7].invalid", "@" + path}, 25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 4; })) << q.dump();
    EXPECT_EQ(rows(q), (std::vector<std::string>{" db1.inva ", " db2.inva ", " db7.inva ", " x.invali "}));
    // Selected: the red background. Alive or already dead does not matter here: a name that does not
    // resolve ends its ssh within milliseconds.
    EXPECT_EQ(q.list_cell(0).bg, 1) << q.dump();
}

// Eleven digits of machines: the list fills to its 256 and stops there, at once; a name after the
// range finds no room.
TEST_F(E2eHostrange, HugeRangeStopsAtCapacity)
{
    QuillorSession q({"h[1-99999999999].invalid", "z.invalid"}, 25, 80);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return q.list_count() == 22; })) << q.dump();
    // F3 stops at the last machine, which the list scrolls to show on its bottom row. The loop takes
    // one key a turn while the logins start, so this takes a while on a loaded machine.
    std::string moves;
    for (int i = 0; i < 300; ++i) moves += keys::F3;
    q.send(moves);
    EXPECT_TRUE(q.wait_for(
        [&](const ScreenReader &) { return q.list_row(21) == " h256.inv " && q.list_cell(21).bg == 1; },
        60000))
        << q.dump();
    EXPECT_EQ(q.list_row(20), " h255.inv ");
    EXPECT_EQ(q.quit(), 0);
}

} // namespace
