// The program keeps a screen's cells itself, painted by libvterm's state layer. libvterm's own screen
// layer, fed the same bytes, must end with the same cells: every character, colour and attribute, on
// both screens, after scrolling regions, margins, inserts and deletes, erases, protected cells, double-
// width lines and reverse video. The differences on purpose: a wide character half overwritten is
// blanked whole here, where libvterm leaves half of it behind, so rows with wide characters are left
// out of the comparison and checked on their own; and concealed text reads as blanks.
#include <gtest/gtest.h>
#include <vterm.h>

#include <memory>
#include <random>
#include <string>

#include "support/fuzz_checks.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

struct Reference {
    std::unique_ptr<VTerm, VTermFree> vt;
    VTermScreen *screen;
};

Reference reference(int rows, int cols)
{
    Reference r{std::unique_ptr<VTerm, VTermFree>(vterm_new(rows, cols)), nullptr};
    vterm_set_utf8(r.vt.get(), 1);
    r.screen = vterm_obtain_screen(r.vt.get());
    vterm_screen_enable_altscreen(r.screen, 1);
    vterm_screen_reset(r.screen, 1);
    // As the terminal layer starts, with a saved cursor of default colours.
    vterm_input_write(r.vt.get(), kSaveDefaults, sizeof kSaveDefaults - 1);
    return r;
}

bool same_color(const VTermColor &a, const VTermColor &b)
{
    if (a.type != b.type) return false;
    if (VTERM_COLOR_IS_INDEXED(&a)) return a.indexed.idx == b.indexed.idx;
    return a.rgb.red == b.rgb.red && a.rgb.green == b.rgb.green && a.rgb.blue == b.rgb.blue;
}

bool row_has_wide(const Reference &ref, const TarvikVt *vt, int row)
{
    for (int col = 0; col < vt->cols; ++col) {
        VTermScreenCell c;
        vterm_screen_get_cell(ref.screen, VTermPos{row, col}, &c);
        // Half of a wide character left behind reads as narrow; no wide character is below U+1100.
        if (c.width != 1 || c.chars[0] >= 0x1100) return true;
        if (vt_get_cell(vt, row, col, c) && (c.width != 1 || c.chars[0] >= 0x1100)) return true;
    }
    return false;
}

std::string attr_text(const VTermScreenCellAttrs &a)
{
    std::string s;
    if (a.bold) s += "bold ";
    if (a.underline) s += "underline ";
    if (a.italic) s += "italic ";
    if (a.blink) s += "blink ";
    if (a.reverse) s += "reverse ";
    if (a.strike) s += "strike ";
    return s.empty() ? "none" : s;
}

// The first cell where the two differ, described; "" when they agree.
std::string compare(const Reference &ref, const TarvikVt *vt)
{
    for (int row = 0; row < vt->rows; ++row) {
        if (row_has_wide(ref, vt, row)) continue;
        for (int col = 0; col < vt->cols; ++col) {
            VTermScreenCell want, got;
            vterm_screen_get_cell(ref.screen, VTermPos{row, col}, &want);
            vt_get_cell(vt, row, col, got);
            std::string where = "cell " + std::to_string(row) + "," + std::to_string(col) + ": ";
            // libvterm does not know concealed text, which reads as blanks here.
            bool concealed = vt_cell_style(vt, row, col).attrs & kCellConcealed;
            for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && !concealed; ++i) {
                if (want.chars[i] != got.chars[i])
                    return where + "char " + std::to_string(got.chars[i]) + " instead of " +
                           std::to_string(want.chars[i]);
                if (!want.chars[i]) break;
            }
            if (!same_color(want.fg, got.fg)) return where + "foreground";
            if (!same_color(want.bg, got.bg)) return where + "background";
            // An erase here gives cells only the pen's colours, as terminals do; libvterm copies its
            // reverse and underline into the blanks too.
            if (want.chars[0] != 0 &&
                (want.attrs.bold != got.attrs.bold ||
                 (want.attrs.underline != 0) != (got.attrs.underline != 0) ||
                 want.attrs.italic != got.attrs.italic || want.attrs.blink != got.attrs.blink ||
                 want.attrs.reverse != got.attrs.reverse || want.attrs.strike != got.attrs.strike))
                return where + "attributes " + attr_text(got.attrs) + " instead of " + attr_text(want.attrs);
        }
    }
    return "";
}

// Output of a program that uses everything a full-screen program might, in random order and with
// random numbers, on a small screen so that edges are hit often.
std::string random_output(std::mt19937 &rng, int tokens)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto num = [&] { return std::to_string(pick(12)); };
    std::string out;
    for (int t = 0; t < tokens; ++t) {
        switch (pick(34)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {
            int n = 1 + pick(14);
            for (int i = 0; i < n; ++i) out += static_cast<char>('a' + pick(26));
            break;
        }
        case 5: out += "\r\n"; break;
        case 6: out += "\n"; break;
        case 7: out += "\x1b[" + num() + ";" + num() + "H"; break;
        case 8: out += "\x1b[" + std::to_string(pick(3)) + "J"; break;
        case 9: out += "\x1b[" + std::to_string(pick(3)) + "K"; break;
        case 10: out += "\x1b[" + num() + "@"; break;
        case 11: out += "\x1b[" + num() + "P"; break;
        case 12: out += "\x1b[" + num() + "L"; break;
        case 13: out += "\x1b[" + num() + "M"; break;
        case 14: out += "\x1b[" + num() + (pick(2) ? "S" : "T"); break;
        case 15: out += "\x1b[" + num() + "X"; break;
        case 16: out += "\x1b[" + num() + ";" + num() + "r"; break;
        case 17:
            out += pick(2) ? "\x1b[?69h\x1b[" + num() + ";" + num() + "s" : std::string("\x1b[?69l");
            break;
        case 18:
            out += pick(2) ? "\x1bM"
                           : "\x1b"
                             "D";
            break;
        case 19:
            out += "\x1b"
                   "E";
            break;
        case 20: {
            static const char *sgr[] = {"0",
                                        "1",
                                        "4",
                                        "3",
                                        "5",
                                        "7",
                                        "9",
                                        "22",
                                        "24",
                                        "27",
                                        "31",
                                        "42",
                                        "39",
                                        "49",
                                        "38;5;200",
                                        "48;5;17",
                                        "38;2;10;200;30",
                                        "93",
                                        "104"};
            out += std::string("\x1b[") + sgr[pick(19)] + "m";
            break;
        }
        case 21: out += pick(2) ? "\x1b[?1049h" : "\x1b[?1049l"; break;
        case 22: out += pick(2) ? "\x1b[?47h" : "\x1b[?47l"; break;
        case 23: out += pick(2) ? "\x1b[?5h" : "\x1b[?5l"; break;
        case 24: out += pick(2) ? "\x1b[1\"q" : "\x1b[0\"q"; break;
        case 25:
            out +=
                pick(2) ? "\x1b[?" + std::to_string(pick(3)) + "J" : "\x1b[?" + std::to_string(pick(3)) + "K";
            break;
        case 26: out += pick(2) ? "\x1b#6" : "\x1b#5"; break;
        case 27: out += pick(2) ? "\xe5\xad\x97" : "e\xcc\x81"; break;
        case 28: out += "x\x1b[" + num() + "b"; break;
        case 29: out += pick(2) ? "\t" : "\b"; break;
        case 30:
            out += pick(2) ? "\x1b"
                             "7"
                           : "\x1b"
                             "8";
            break;
        case 31:
            out += "\x1b"
                   "c";
            break;
        case 32: out += "\x1b[?6" + std::string(pick(2) ? "h" : "l"); break;
        case 33: out += "\x1b[?7" + std::string(pick(2) ? "h" : "l"); break;
        }
    }
    return out;
}

TEST(ScreenCells, MatchLibvtermsScreenForRandomFullScreenOutput)
{
    std::mt19937 rng(20261209);
    for (int run = 0; run < 300; ++run) {
        int rows = 1 + static_cast<int>(rng() % 9), cols = 2 + static_cast<int>(rng() % 13);
        std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(rows, cols));
        Reference ref = reference(rows, cols);
        // The reference gets the bytes as they passed the program's output filter.
        std::string passed;
        vt->filter.copy_to = &passed;
        for (int step = 0; step < 40; ++step) {
            std::string bytes = random_output(rng, 25);
            passed.clear();
            vt_write(vt.get(), bytes.data(), bytes.size());
            vterm_input_write(ref.vt.get(), passed.data(), passed.size());
            std::string diff = compare(ref, vt.get());
            ASSERT_EQ(diff, "") << rows << "x" << cols << " run " << run << " step " << step << " after "
                                << testing::PrintToString(bytes);
            VTermPos want, got;
            vterm_state_get_cursorpos(vterm_obtain_state(ref.vt.get()), &want);
            vterm_state_get_cursorpos(vt->state, &got);
            ASSERT_TRUE(want.row == got.row && want.col == got.col) << "run " << run << " step " << step;
        }
    }
}

TEST(ScreenCells, MatchLibvtermsScreenForTheFuzzersKeptInputs)
{
    for (const FuzzInput &in : fuzz_kept_inputs("vt_fuzz")) {
        std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(7, 11));
        Reference ref = reference(7, 11);
        std::string passed;
        vt->filter.copy_to = &passed;
        for (size_t pos = 0; pos < in.bytes.size(); pos += 97) {
            size_t n = std::min<size_t>(97, in.bytes.size() - pos);
            passed.clear();
            vt_write(vt.get(), reinterpret_cast<const char *>(in.bytes.data() + pos), n);
            vterm_input_write(ref.vt.get(), passed.data(), passed.size());
        }
        EXPECT_EQ(compare(ref, vt.get()), "") << in.path;
    }
}

// Where libvterm would leave half a wide character, no half is left.
TEST(ScreenCells, OverwritingHalfAWideCharacterBlanksTheOtherHalf)
{
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(2, 8));
    auto feed = [&](const std::string &s) { vt_write(vt.get(), s.data(), s.size()); };
    auto cell = [&](int col) { return tarvik_vt_cell(vt.get(), 0, col); };
    // Right half overwritten: the left half goes too.
    feed("\x1b[H\xe5\xad\x97\xe5\xad\x97\x1b[1;2Hx");
    EXPECT_EQ(cell(0).ch, 32u);
    EXPECT_EQ(cell(0).width, 1);
    EXPECT_EQ(cell(1).ch, static_cast<uint32_t>('x'));
    EXPECT_EQ(cell(2).ch, 0x5B57u);
    EXPECT_EQ(cell(2).width, 2);
    // Left half overwritten by another wide character one column to the right of it.
    feed("\x1b[2J\x1b[H\xe5\xad\x97\xe5\xad\x97\x1b[1;2H\xe4\xb8\x80");
    EXPECT_EQ(cell(0).ch, 32u);
    EXPECT_EQ(cell(1).ch, 0x4E00u);
    EXPECT_EQ(cell(1).width, 2);
    EXPECT_EQ(cell(2).width, 0);
    EXPECT_EQ(cell(3).ch, 32u);
    EXPECT_EQ(cell(3).width, 1);
    // A combining mark joins the character without disturbing its neighbours.
    feed("\x1b[2J\x1b[H\xe5\xad\x97\xcc\x81z");
    EXPECT_EQ(cell(0).ch, 0x5B57u);
    EXPECT_EQ(cell(0).width, 2);
    EXPECT_EQ(cell(2).ch, static_cast<uint32_t>('z'));
}

} // namespace
