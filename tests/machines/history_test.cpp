// A machine's history: lines come back exactly as they were kept, the limit drops the oldest and frees
// their memory, search stops at either end, and text from a mark spans history and screen.
#include "machines/history.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "term/vt_internal.h"

namespace {

using Line = std::vector<TarvikLineCell>;

TarvikLineCell cell(uint32_t ch, TarvikStyle style = {}, int width = 1)
{
    TarvikLineCell c{};
    c.chars[0] = ch;
    c.width = width;
    c.style = style;
    return c;
}

Line plain(const std::string &text)
{
    Line l;
    for (unsigned char ch : text) l.push_back(cell(ch));
    return l;
}

void push(History &h, const Line &l)
{
    history_push(h, l.data(), static_cast<int>(l.size()));
}

Line cells_of(const History &h, uint64_t line)
{
    Line l;
    history_cells(h, line, l);
    return l;
}

bool same(const Line &a, const Line &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].width != b[i].width || !(a[i].style == b[i].style)) return false;
        for (int k = 0; k < kTarvikMaxChars; ++k)
            if (a[i].chars[k] != b[i].chars[k]) return false;
    }
    return true;
}

size_t bytes_kept(const History &h)
{
    size_t n = 0;
    for (const History::Chunk &c : h.chunks) n += c.used;
    return n;
}

TEST(History, LinesComeBackAsPushedWithTheirText)
{
    TarvikStyle red{1, kTarvikDefaultColor, 0},
        rgb{kTarvikRgbColor | 0x0A0B0C, 200, kTarvikBold | kTarvikReverse};
    TarvikStyle on_blue{kTarvikDefaultColor, 4, kTarvikUnderline};
    Line wide = {cell('a'), cell(0x5B57, red, 2), TarvikLineCell{{}, 0, red}, cell(0x1F600, rgb, 2),
                 TarvikLineCell{{}, 0, rgb}};
    Line combining = {cell('e'), cell(' ', on_blue), cell('x')};
    combining[0].chars[1] = 0x301;
    combining[0].chars[2] = 0x302;
    Line coloured = plain("ok fail ok");
    for (int i = 3; i < 7; ++i) coloured[static_cast<size_t>(i)].style = red;
    Line accents = {cell(0xE9), cell(0x20AC), cell('z')};
    struct Case {
        Line line;
        std::string text;
    } cases[] = {
        {plain("plain text"), "plain text"},
        {{}, ""},
        {wide, "a\xe5\xad\x97\xf0\x9f\x98\x80"},
        {combining, "e\xcc\x81\xcc\x82 x"},
        {coloured, "ok fail ok"},
        {accents, "\xc3\xa9\xe2\x82\xac"
                  "z"},
    };
    History h;
    for (const Case &c : cases) push(h, c.line);
    ASSERT_EQ(history_size(h), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(same(cells_of(h, i), cases[i].line));
        EXPECT_EQ(history_text(h, i), cases[i].text);
    }
    // A cell nothing was written to reads as a blank.
    Line gap = {cell('a'), cell(0), cell('b')};
    push(h, gap);
    EXPECT_EQ(history_text(h, history_end(h) - 1), "a b");
    EXPECT_EQ(cells_of(h, history_end(h) - 1)[1].chars[0], ' ');
}

TEST(History, LimitDropsTheOldestAndItsMemory)
{
    History h;
    history_set_limit(h, 100);
    for (int i = 0; i < 20000; ++i) push(h, plain("line " + std::to_string(i)));
    EXPECT_EQ(history_size(h), 100u);
    EXPECT_EQ(history_begin(h), 19900u);
    EXPECT_EQ(history_end(h), 20000u);
    EXPECT_EQ(history_text(h, 19900), "line 19900");
    EXPECT_EQ(history_text(h, 19899), "");
    EXPECT_LT(bytes_kept(h), 3u * 16384);

    history_set_limit(h, 10);
    EXPECT_EQ(history_begin(h), 19990u);
    EXPECT_EQ(history_text(h, 19990), "line 19990");

    // With no lines kept the numbers still count what scrolled by.
    history_set_limit(h, 0);
    push(h, plain("gone"));
    EXPECT_EQ(history_size(h), 0u);
    EXPECT_EQ(history_end(h), 20001u);
    EXPECT_TRUE(cells_of(h, 20000).empty());
}

// Plain text costs its characters and a little; colours cost per run, not per cell.
TEST(History, StoresLinesCompactly)
{
    History h;
    std::string text(80, 'x');
    for (int i = 0; i < 1000; ++i) push(h, plain(text));
    EXPECT_LE(bytes_kept(h), 1000u * 82);
    History c;
    Line l = plain(text);
    for (size_t i = 10; i < 20; ++i) l[i].style = {1, kTarvikDefaultColor, kTarvikBold};
    for (size_t i = 40; i < 50; ++i) l[i].style = {2, kTarvikDefaultColor, 0};
    for (int i = 0; i < 1000; ++i) push(c, l);
    EXPECT_LE(bytes_kept(c), 1000u * (82 + 2 + 5 * 5));
}

TEST(History, FindStopsAtEitherEnd)
{
    History h;
    for (const char *s : {"alpha", "beta", "gamma alpha", "delta", "alphabet"}) push(h, plain(s));
    struct Case {
        uint64_t from;
        bool backward;
        std::optional<uint64_t> want;
    } cases[] = {
        {4, true, 4},  {3, true, 2},  {1, true, 0},
        {0, true, 0},  {99, true, 4}, {0, false, 0},
        {1, false, 2}, {3, false, 4}, {5, false, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + (c.backward ? " back" : " forward"));
        EXPECT_EQ(history_find(h, "alpha", c.from, c.backward), c.want);
    }
    EXPECT_EQ(history_find(h, "omega", 4, true), std::nullopt);
    EXPECT_EQ(history_find(h, "", 4, true), std::nullopt);
    // Lines dropped by the limit are not searched.
    history_set_limit(h, 2);
    EXPECT_EQ(history_find(h, "alpha", 2, true), std::nullopt);
    EXPECT_EQ(history_find(h, "alpha", 0, false), 4u);
}

// A copy (what a view looks at) goes on by itself: the original keeps its lines and takes new ones.
TEST(History, CopyIsIndependent)
{
    History h;
    history_set_limit(h, 3);
    for (const char *s : {"one", "two", "three"}) push(h, plain(s));
    History copy = h;
    history_set_limit(copy, 5);
    push(copy, plain("four"));
    push(h, plain("FOUR"));
    EXPECT_EQ(history_text(copy, 0), "one");
    EXPECT_EQ(history_text(copy, 3), "four");
    EXPECT_EQ(history_text(h, 0), "");
    EXPECT_EQ(history_text(h, 3), "FOUR");
}

// A mark set on the cursor's row still finds its line after it scrolled into the history, and after
// the limit dropped part of what followed it.
TEST(History, TextSinceAMarkSpansHistoryAndScreen)
{
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(3, 20));
    History h;
    history_set_limit(h, 4);
    tarvik_vt_set_scrollback(
        vt.get(),
        [](const TarvikLineCell *c, int n, bool w, void *u) {
            history_push(*static_cast<History *>(u), c, n, w);
        },
        &h);
    auto feed = [&](const std::string &s) { vt_write(vt.get(), s.data(), s.size()); };
    feed("old\r\n$ ");
    uint64_t mark = history_mark(h, vt.get());
    EXPECT_EQ(history_text_since(h, vt.get(), mark), "$\n");
    feed("cmd\r\n");
    EXPECT_EQ(history_text_since(h, vt.get(), mark), "$ cmd\n\n");
    feed("a\r\nb\r\nc\r\n$ ");
    EXPECT_EQ(history_text_since(h, vt.get(), mark), "$ cmd\na\nb\nc\n$\n");
    feed("\r\n\r\n\r\n");
    EXPECT_LT(mark, history_begin(h));
    EXPECT_EQ(history_text_since(h, vt.get(), mark), "a\nb\nc\n$\n\n\n\n");
    // The view's snapshot: the screen rows in use join the history as its newest lines.
    History snap = h;
    history_set_limit(snap, history_size(h) + 3);
    history_add_screen(snap, vt.get());
    EXPECT_EQ(history_end(snap), history_end(h) + 3);
    EXPECT_EQ(history_text(snap, history_end(h) - 1), "$");
}

} // namespace
