// Lines leaving the top of the main screen reach the scrollback, in order, with what they showed; the
// alternate screen and sideways scrolls give none. libvterm's own screen layer, which keeps a
// scrollback the same way, is the reference for random output.
#include <gtest/gtest.h>
#include <vterm.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/curses_screen.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

using Line = std::vector<TarvikLineCell>;
using VtPtr = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

void collect(const TarvikLineCell *cells, int count, bool, void *user)
{
    static_cast<std::vector<Line> *>(user)->emplace_back(cells, cells + count);
}

struct Reference {
    std::unique_ptr<VTerm, VTermFree> vt;
    std::vector<std::vector<VTermScreenCell>> pushed;
};

int ref_push(int cols, const VTermScreenCell *cells, void *user)
{
    static_cast<Reference *>(user)->pushed.emplace_back(cells, cells + cols);
    return 1;
}

std::unique_ptr<Reference> reference(int rows, int cols)
{
    static const VTermScreenCallbacks callbacks = [] {
        VTermScreenCallbacks cb{};
        cb.sb_pushline = ref_push;
        return cb;
    }();
    auto r = std::make_unique<Reference>();
    r->vt.reset(vterm_new(rows, cols));
    vterm_set_utf8(r->vt.get(), 1);
    VTermScreen *screen = vterm_obtain_screen(r->vt.get());
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_set_callbacks(screen, &callbacks, r.get());
    vterm_screen_reset(screen, 1);
    // As the terminal layer starts, with a saved cursor of default colours.
    vterm_input_write(r->vt.get(), kSaveDefaults, sizeof kSaveDefaults - 1);
    return r;
}

std::string feed_text(VtPtr &vt, const std::string &s)
{
    vt_write(vt.get(), s.data(), s.size());
    return s;
}

// Output that scrolls in every way a shell or a program on the main screen makes it scroll. Scroll
// counts stay at 1 and regions have two rows at least: libvterm's screen layer drops the lines of a
// scroll as large as its region, which are kept here.
std::string scrolling_output(std::mt19937 &rng, int rows, int tokens)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto num = [&] { return std::to_string(1 + pick(9)); };
    static const char *sgr[] = {
        "0", "1", "4", "7", "9", "31", "42", "39", "49", "38;5;200", "48;2;10;200;30"};
    std::string out;
    for (int t = 0; t < tokens; ++t) {
        switch (pick(16)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            int n = 1 + pick(12);
            for (int i = 0; i < n; ++i) out += static_cast<char>('a' + pick(26));
            break;
        }
        case 4:
        case 5: out += "\r\n"; break;
        case 6: out += "\n"; break;
        case 7: out += "\x1b[" + num() + ";" + num() + "H"; break;
        case 8: out += std::string("\x1b[") + sgr[pick(11)] + "m"; break;
        case 9: {
            int top = 1 + pick(rows - 1);
            out += pick(2) ? "\x1b[" + std::to_string(top) + ";" +
                                 std::to_string(top + 1 + pick(rows - top)) + "r"
                           : std::string("\x1b[r");
            break;
        }
        case 10: out += pick(2) ? "\x1b[S" : "\x1b[T"; break;
        case 11: out += pick(2) ? "\x1b[L" : "\x1b[M"; break;
        case 12:
            out += pick(2) ? "\x1bM"
                           : "\x1b"
                             "D";
            break;
        case 13: out += pick(2) ? "\x1b[?1049h" : "\x1b[?1049l"; break;
        case 14: out += pick(2) ? "\x1b[?69h\x1b[2;5s" : "\x1b[?69l"; break;
        case 15: out += "\x1b[" + std::to_string(pick(3)) + "K"; break;
        }
    }
    return out;
}

// The colours scrolling_output sets, as libvterm's screen holds them and as a line of the scrollback must:
// written out, not worked out, so that a fault in the layer's conversion cannot hide in a copy of it.
struct ColorCase {
    bool indexed, is_default;
    uint8_t index, r, g, b;
    uint32_t code;
};
constexpr ColorCase kColors[] = {
    {false, true, 0, 0, 0, 0, kTarvikDefaultColor},
    {true, false, 1, 0, 0, 0, 1},
    {true, false, 2, 0, 0, 0, 2},
    {true, false, 200, 0, 0, 0, 200},
    {false, false, 0, 10, 200, 30, kTarvikRgbColor | 0x0AC81E},
    // Black as libvterm's own screen holds some of the cells it fills itself.
    {false, false, 0, 0, 0, 0, kTarvikRgbColor},
};

uint32_t ref_color(const VTermColor &c, bool fg)
{
    bool is_default = fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c);
    for (const ColorCase &k : kColors) {
        if (k.is_default != is_default) continue;
        if (is_default) return k.code;
        if (k.indexed && VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx == k.index) return k.code;
        if (!k.indexed && VTERM_COLOR_IS_RGB(&c) && c.rgb.red == k.r && c.rgb.green == k.g &&
            c.rgb.blue == k.b)
            return k.code;
    }
    ADD_FAILURE() << "a colour the output never sets";
    return 0;
}

TarvikStyle ref_style(const VTermScreenCell &c)
{
    uint8_t a = 0;
    if (c.attrs.bold) a |= kTarvikBold;
    if (c.attrs.underline) a |= kTarvikUnderline;
    if (c.attrs.italic) a |= kTarvikItalic;
    if (c.attrs.blink) a |= kTarvikBlink;
    if (c.attrs.reverse) a |= kTarvikReverse;
    if (c.attrs.strike) a |= kTarvikStrike;
    return {ref_color(c.fg, true), ref_color(c.bg, false), a};
}

// The first difference between a line given to the scrollback and libvterm's; "" when they agree.
std::string compare_line(const Line &got, const std::vector<VTermScreenCell> &want)
{
    for (size_t col = 0; col < want.size(); ++col) {
        const VTermScreenCell &w = want[col];
        std::string where = "column " + std::to_string(col) + ": ";
        uint32_t want_ch = w.chars[0] == 0 ? ' ' : w.chars[0];
        if (col >= got.size()) {
            // Left out at the end: only what shows nothing may be.
            if (want_ch != ' ' || !VTERM_COLOR_IS_DEFAULT_BG(&w.bg)) return where + "left out";
            continue;
        }
        TarvikStyle ref = ref_style(w);
        const TarvikLineCell &g = got[col];
        if (g.chars[0] != want_ch) return where + "character " + std::to_string(g.chars[0]);
        if (g.style.bg != ref.bg) return where + "background";
        // libvterm gives erased blanks the pen's attributes and foreground; they show nothing.
        if (w.chars[0] != 0 && !(g.style == ref)) return where + "look";
    }
    return got.size() <= want.size() ? "" : "longer than the screen";
}

TEST(Scrollback, GetsTheLinesLeavingTheTopAsLibvtermsScreenDoes)
{
    std::mt19937 rng(17);
    for (int run = 0; run < 200; ++run) {
        int rows = 2 + static_cast<int>(rng() % 8), cols = 2 + static_cast<int>(rng() % 12);
        VtPtr vt(tarvik_vt_create(rows, cols));
        std::vector<Line> got;
        tarvik_vt_set_scrollback(vt.get(), collect, &got);
        auto ref = reference(rows, cols);
        std::string passed;
        vt->filter.copy_to = &passed;
        std::string fed;
        for (int step = 0; step < 30; ++step) {
            passed.clear();
            fed += feed_text(vt, scrolling_output(rng, rows, 20));
            vterm_input_write(ref->vt.get(), passed.data(), passed.size());
        }
        ASSERT_EQ(got.size(), ref->pushed.size()) << rows << "x" << cols << " run " << run;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(compare_line(got[i], ref->pushed[i]), "")
                << rows << "x" << cols << " run " << run << " line " << i << " of "
                << testing::PrintToString(fed);
    }
}

TEST(Scrollback, KeepsWideCharactersCombiningMarksAndColours)
{
    VtPtr vt(tarvik_vt_create(2, 10));
    std::vector<Line> got;
    tarvik_vt_set_scrollback(vt.get(), collect, &got);
    // "a", red "b", a wide character, "e" with an acute accent, a blank on a blue background; then an
    // empty line; then a scroll of two at once.
    feed_text(vt, "a\x1b[31mb\x1b[0m\xe5\xad\x97"
                  "e\xcc\x81\x1b[44m \x1b[0m\r\n\r\n\r\nx\x1b[2S");
    ASSERT_EQ(got.size(), 4u);
    const Line &l = got[0];
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[0].chars[0], 'a');
    EXPECT_EQ(l[0].style, TarvikStyle{});
    EXPECT_EQ(l[1].chars[0], 'b');
    EXPECT_EQ(l[1].style.fg, 1u);
    EXPECT_EQ(l[2].chars[0], 0x5B57u);
    EXPECT_EQ(l[2].width, 2);
    EXPECT_EQ(l[3].width, 0);
    EXPECT_EQ(l[4].chars[0], 'e');
    EXPECT_EQ(l[4].chars[1], 0x301u);
    EXPECT_EQ(l[5].chars[0], ' ');
    EXPECT_EQ(l[5].style.bg, 4u);
    EXPECT_TRUE(got[1].empty());
    EXPECT_TRUE(got[2].empty());
    ASSERT_EQ(got[3].size(), 1u);
    EXPECT_EQ(got[3][0].chars[0], 'x');
}

TEST(Scrollback, NoneFromTheAlternateScreenOrASidewaysScroll)
{
    VtPtr vt(tarvik_vt_create(3, 10));
    std::vector<Line> got;
    tarvik_vt_set_scrollback(vt.get(), collect, &got);
    feed_text(vt, "one\r\n\x1b[?1049h");
    for (int i = 0; i < 10; ++i) feed_text(vt, "full screen\r\n");
    // Back on the main screen, a scroll inside left and right margins moves no line off the screen.
    feed_text(vt, "\x1b[?1049l\x1b[?69h\x1b[2;5s\x1b[3;1H\n\n\n\x1b[?69l");
    EXPECT_TRUE(got.empty());
    feed_text(vt, "\x1b[3;1Htwo\r\n");
    ASSERT_EQ(got.size(), 1u);
    ASSERT_FALSE(got[0].empty());
    EXPECT_EQ(got[0][0].chars[0], 'o');
}

// A line drawn from its kept cells looks as the screen row it was, in every colour form.
TEST(Scrollback, KeptLineDrawsLikeTheScreenRow)
{
    CursesScreen screen(6, 40);
    VtPtr vt(tarvik_vt_create(2, 30));
    feed_text(vt, "\x1b[1;4;31;44mab\x1b[0m \x1b[38;5;123mcd\x1b[48;2;200;10;10m e\xe5\xad\x97\x1b[7mf"
                  "\x1b[0m\x1b[9m g\xcc\x81\x1b[0m  \x1b[42m  ");
    WINDOW *a = newwin(1, 30, 0, 0), *b = newwin(1, 30, 2, 0);
    tarvik_vt_draw(vt.get(), a, 0, 0);
    std::vector<TarvikLineCell> cells(30);
    int n = tarvik_vt_line(vt.get(), 0, cells.data());
    EXPECT_EQ(n, 16);
    tarvik_draw_line(b, 0, 0, cells.data(), n);
    EXPECT_EQ(window_dump(b), window_dump(a));
    delwin(a);
    delwin(b);
}

} // namespace
