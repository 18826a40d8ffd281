// Host ranges: what a name with brackets stands for, and what stays as written.
#include "machines/hostrange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TEST(Hostrange, ExpandsRangesInOrderWithPadding)
{
    const std::pair<std::string, Names> cases[] = {
        {"web[01-03]", {"web01", "web02", "web03"}},
        {"web[08-10]", {"web08", "web09", "web10"}},
        {"db[1-3,7,10-11]", {"db1", "db2", "db3", "db7", "db10", "db11"}},
        {"r[1-2]n[1-3]", {"r1n1", "r1n2", "r1n3", "r2n1", "r2n2", "r2n3"}},
        {"admin@web[1-2].example", {"admin@web1.example", "admin@web2.example"}},
        {"-p 2222 web[1-2]", {"-p 2222 web1", "-p 2222 web2"}},
        {"[5]x", {"5x"}},
        {"n[18446744073709551614-18446744073709551615]", {"n18446744073709551614", "n18446744073709551615"}},
        // The second bracket is a range even though the first was not.
        {"[a][1-2]", {"[a]1", "[a]2"}},
    };
    for (const auto &[text, names] : cases) EXPECT_EQ(hostrange_expand(text, 256), names) << text;
}

// Brackets that hold no range are part of the name: no error, no expansion, nothing lost.
TEST(Hostrange, LeavesEverythingElseAsWritten)
{
    const char *literal[] = {
        "plain",
        "",
        "web[3-1]",
        "web[a-c]",
        "web[1-3",
        "web1-3]",
        "web[]",
        "[::1]",
        "[fe80::1]:22",
        "web[1-]",
        "web[-3]",
        "web[1,,2]",
        "web[1-2-3]",
        "web[ 1-2]",
        "n[18446744073709551616]",
        "n[1-99999999999999999999]",
    };
    for (const char *text : literal) EXPECT_EQ(hostrange_expand(text, 256), Names{text}) << text;
}

// A range far beyond the list's room yields what fits and stops, quickly; no room yields nothing.
TEST(Hostrange, StopsAtTheRoomGiven)
{
    Names names = hostrange_expand("h[1-99999999999]", 3);
    EXPECT_EQ(names, (Names{"h1", "h2", "h3"}));
    EXPECT_EQ(hostrange_expand("a[0-18446744073709551615]b[0-18446744073709551615]", 2),
              (Names{"a0b0", "a0b1"}));
    EXPECT_TRUE(hostrange_expand("h[1-3]", 0).empty());
    EXPECT_TRUE(hostrange_expand("plain", 0).empty());
    EXPECT_EQ(hostrange_expand("h[1-3]", 256).size(), 3u);
}

} // namespace

namespace {

TEST(Hostrange, CompressesRunsOfNumberedNames)
{
    const std::pair<Names, std::string> cases[] = {
        {{"web01", "web02", "web03", "web04", "web05", "web07"}, "web[01-05,07]"},
        {{"web07", "web01", "web02"}, "web[01-02,07]"},
        {{"db1", "web1", "db2"}, "db[1-2],web1"},
        // Different widths are different kinds: "web9" and "web10" could not come from one bracket.
        {{"web9", "web10", "web11"}, "web9,web[10-11]"},
        {{"r1n1", "r1n2", "r2n1"}, "r1n[1-2],r2n1"},
        {{"alpha", "beta"}, "alpha,beta"},
        {{"a.example", "b1.example", "b2.example"}, "a.example,b[1-2].example"},
        {{}, ""},
    };
    for (const auto &[names, text] : cases) EXPECT_EQ(hostrange_compress(names), text) << text;
}

// What compress writes expands back to the same names.
TEST(Hostrange, CompressedRangesExpandToTheirNames)
{
    Names names;
    for (int i : {1, 2, 3, 5, 8, 9, 10, 99})
        names.push_back("n" + std::string(i < 10 ? "00" : "0") + std::to_string(i));
    std::string text = hostrange_compress(names);
    EXPECT_EQ(text, "n[001-003,005,008-010,099]");
    EXPECT_EQ(hostrange_expand(text, 256), names);
}

} // namespace
