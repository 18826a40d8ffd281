// A machine's screen and history must not depend on where the reads of its output ended: two machines
// printing the same bytes show the same, however the bytes came. The same output fed whole and cut
// into reads must give the same cells (characters, marks, widths, looks), cursor and scrolled-off lines.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

void keep_line(const TarvikLineCell *cells, int count, bool wrapped, void *user)
{
    static_cast<std::string *>(user)->append(wrapped ? "\nwrapped " : "\nscrolled ");
    static_cast<std::string *>(user)->append(vt_line_state(cells, count));
}

// Everything the screen shows and has scrolled away after the bytes, cut before each offset in `cuts`
// (ascending).
std::string outcome(int rows, int cols, const std::string &bytes, const std::vector<size_t> &cuts)
{
    Vt vt(tarvik_vt_create(rows, cols));
    std::string history;
    tarvik_vt_set_scrollback(vt.get(), keep_line, &history);
    size_t at = 0;
    for (size_t cut : cuts) {
        vt_feed_output(vt.get(), bytes.substr(at, cut - at));
        at = cut;
    }
    vt_feed_output(vt.get(), bytes.substr(at));
    return vt_screen_state(vt.get()) + history;
}

// Characters whose marks come in the next read, where libvterm's cursor stays on them: in the last
// column, wide ones too, with autowrap off, within margins in origin mode, in the line-drawing set, on
// the last row (the wrap after them scrolls a line away), emoji with their selector and joiner.
TEST(ReadBoundaries, MarksJoinTheirCharacterWhereverAReadEnds)
{
    const std::string kAcute = "\xcc\x81";
    const std::string cases[] = {
        "\x1b[1;10Ha" + kAcute + "\xcc\x82x",
        "\x1b[1;9H\xe5\xad\x97" + kAcute + "\x1b[?7l\x1b[2;10Ha" + kAcute + "b" + kAcute,
        "\x1b[2;3r\x1b[?6h\x1b[?69h\x1b[3;8s\x1b[1;6Ha" + kAcute + "\x1b(0q" + kAcute,
        "\x1b[31;2m\x1b[4;10Ha\x1b]0;title\x07" + kAcute + "b",
        "\x1b[1;9H\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\x1b[2;10H\xe2\x9d\xa4\xef\xb8\x8f!",
    };
    for (const std::string &bytes : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        std::string whole = outcome(4, 10, bytes, {});
        std::vector<size_t> every;
        for (size_t k = 1; k < bytes.size(); ++k) {
            ASSERT_EQ(outcome(4, 10, bytes, {k}), whole) << "cut at " << k;
            every.push_back(k);
        }
        ASSERT_EQ(outcome(4, 10, bytes, every), whole) << "a byte per read";
    }
}

// Output full of what the screen must get right whatever the reads: cursor moves to the edges,
// colours and the attributes kept beside libvterm, erases, wide characters and marks, repeats,
// character sets and saved cursors, scroll regions and the alternate screen.
std::string random_stream(std::mt19937 &rng, int tokens)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto num = [&] { return std::to_string(pick(9)); };
    static const char *const kMarks[] = {"\xcc\x81", "\xcc\x82", "\xe2\x83\x9d", "\xef\xb8\x8f",
                                         "\xe2\x80\x8d"};
    static const char *const kWide[] = {"\xe5\xad\x97", "\xf0\x9f\x98\x80", "\xef\xbc\xa1"};
    static const char *const kSgr[] = {"0", "1",  "2", "22", "8",  "28",    "53",     "55",          "21",
                                       "4", "24", "7", "31", "42", "39;49", "38;5;2", "48;2;8;53;2", "9"};
    // Sets and shifts, saves and restores, screens and modes, a dropped title and sequence, DEL.
    static const std::vector<std::string> kOther = [] {
        std::vector<std::string> v;
        std::string all = "\033(0|\033(B|\033)0|\016|\017|\0337|\0338|\033[s|\033[u|\033[?1049h|\033[?1049l|"
                          "\033[?47h|\033[?47l|\033[?7l|\033[?7h|\033[?6h|\033[?6l|\033]0;t\007|\033[1 2m|"
                          "\033[?3h|\177|\033(A";
        for (size_t at = 0, bar; at <= all.size(); at = bar + 1) {
            bar = std::min(all.find('|', at), all.size());
            v.push_back(all.substr(at, bar - at));
        }
        return v;
    }();
    std::string out;
    for (int t = 0; t < tokens; ++t) {
        switch (pick(14)) {
        case 0:
        case 1: out += std::string(1 + pick(4), static_cast<char>('a' + pick(26))); break;
        case 2:
        case 3: out += kMarks[pick(5)]; break;
        case 4: out += kWide[pick(3)]; break;
        case 5: out += "\x1b[" + num() + ";" + (pick(2) ? "99" : num()) + "H"; break;
        case 6: out += std::string("\x1b[") + kSgr[pick(18)] + "m"; break;
        case 7: out += "\x1b[" + std::to_string(pick(3)) + "JK"[pick(2)]; break;
        case 8: out += "\x1b[" + num() + "X"; break;
        case 9: out += "\x1b[" + num() + "b"; break;
        case 10: out += "\x1b[" + num() + ";" + num() + "r"; break;
        case 11: out += pick(2) ? "\r\n" : "\n"; break;
        case 12: out += kOther[static_cast<size_t>(pick(static_cast<int>(kOther.size())))]; break;
        case 13: out += pick(2) ? "_yz#" : "q\x1b[2b"; break;
        }
    }
    return out;
}

TEST(ReadBoundaries, RandomOutputCutAtRandomGivesTheSameScreenAndHistory)
{
    std::mt19937 rng(3253);
    for (int run = 0; run < 400; ++run) {
        int rows = 2 + static_cast<int>(rng() % 5), cols = 2 + static_cast<int>(rng() % 9);
        std::string bytes = random_stream(rng, 60);
        std::string whole = outcome(rows, cols, bytes, {});
        for (int cutting = 0; cutting < 4; ++cutting) {
            std::vector<size_t> cuts;
            for (size_t k = 1; k < bytes.size(); ++k)
                if (rng() % 4 == 0) cuts.push_back(k);
            ASSERT_EQ(outcome(rows, cols, bytes, cuts), whole)
                << rows << "x" << cols << " run " << run << ": " << testing::PrintToString(bytes)
                << " cut at " << testing::PrintToString(cuts);
        }
    }
}

} // namespace
