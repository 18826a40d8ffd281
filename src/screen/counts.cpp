// The counts of machines by state, made to fit the room the bottom line has for them.
#include "screen/counts.h"

#include <vector>

namespace {

// In FleetState's order.
constexpr const char *kStateWords[kFleetStates] = {"up", "logging in", "queued", "asking", "dead"};
constexpr char kGap[] = "  ";

} // namespace

std::string counts_text(const FleetCounts &counts, int width)
{
    std::vector<std::string> items;
    for (size_t state = 0; state < kFleetStates; ++state)
        if (counts[state] > 0) items.push_back(std::to_string(counts[state]) + " " + kStateWords[state]);
    for (size_t first = 0; first < items.size(); ++first) {
        std::string text;
        for (size_t i = first; i < items.size(); ++i) text += (text.empty() ? "" : kGap) + items[i];
        if (static_cast<int>(text.size()) <= width) return text;
    }
    return "";
}
