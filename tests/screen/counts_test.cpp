// The fleet's counts on the bottom line: the states that have machines, and on a narrow line the ones
// that need the user last to go.
#include "screen/counts.h"

#include <gtest/gtest.h>

namespace {

TEST(Counts, ShowTheStatesThatHaveMachinesAndLoseTheFrontFirst)
{
    const FleetCounts fleet = {230, 8, 10, 2, 6}; // up, logging in, queued, asking, dead
    const std::string all = "230 up  8 logging in  10 queued  2 asking  6 dead";
    const struct {
        FleetCounts counts;
        int width;
        std::string text;
    } cases[] = {
        {fleet, 80, all},
        {fleet, static_cast<int>(all.size()), all},
        {fleet, static_cast<int>(all.size()) - 1, "8 logging in  10 queued  2 asking  6 dead"},
        {fleet, 30, "10 queued  2 asking  6 dead"},
        {fleet, 16, "2 asking  6 dead"},
        {fleet, 15, "6 dead"},
        {fleet, 5, ""},
        {{4, 0, 0, 0, 0}, 80, "4 up"},
        {{0, 3, 9, 0, 0}, 80, "3 logging in  9 queued"},
        {{0, 0, 0, 0, 0}, 80, ""},
        {{256, 0, 0, 0, 0}, 0, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(counts_text(c.counts, c.width), c.text) << c.width;
}

} // namespace
