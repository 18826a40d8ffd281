// Short sequences that the terminal layer must show as a terminal does, read back from its cells: fed in
// one read and again a byte per read, which must make no difference.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

constexpr uint32_t kDefault = kTarvikDefaultColor;
constexpr uint16_t kFaint = kTarvikFaint, kOver = kTarvikOverline, kUnder = kTarvikUnderline,
                   kDouble = kTarvikUnderline | kTarvikDoubleUnderline;

struct Case {
    const char *what;
    std::string bytes;
    std::vector<std::string> rows;        // the first rows' text
    std::vector<TarvikStyle> styles = {}; // the first cells' looks, when given
    bool cursor_hidden = false;
};

TEST(Sequences, EachFamilyShowsWhatATerminalShows)
{
    const Case cases[] = {
        // A saved cursor brings back its character sets and origin mode.
        {"ESC 8 restores the line-drawing set", "\x1b(0\0337qqq\x1b(B\0338qqq", {"───"}},
        {"ESC 8 restores the set shifted in", "\x1b)0\x0e\0337\x0fqq\0338qq", {"──"}},
        {"leaving mode 1049 restores the set", "\x1b(0\x1b[?1049h\x1b(Bx\x1b[?1049lq", {"─"}},
        {"ESC 8 restores origin mode off", "\0337\x1b[2;3r\x1b[?6h\0338\x1b[HX", {"X"}},
        {"ESC 8 restores origin mode on", "\x1b[2;3r\x1b[?6h\0337\x1b[?6l\0338\x1b[HX", {"", "X"}},
        {"CSI s and CSI u save and restore", "ab\x1b[scd\x1b[uX", {"abXd"}},
        {"with left and right margins CSI s sets them, and homes", "ab\x1b[?69h\x1b[s\x1b[?69lc", {"cb"}},
        {"a restore without a save gives the default colours", "\x1b[31;42m\0338x", {"x"}, {{}}},
        // Each screen has its own saved cursor.
        {"leaving mode 1049 brings back the main screen's cursor and pen, whatever the other saved",
         "\x1b[1;3H\x1b[1;4:2;31;48;5;200m\x1b[?1049h\x1b[3;5H\x1b[0;32m\0337\x1b[?1049lX\x1b[0m\0338Y",
         {"  Y"},
         {{}, {}, {1, 200, kTarvikBold | kDouble}}},
        {"a restore on the alternate screen gives its own save",
         "\x1b[?1049h\x1b[2;2H\0337\x1b[H\0338X",
         {"", " X"}},
        {"after mode 47 the main screen restores its own save",
         "ab\0337\x1b[?47h\x1b[3;3H\0337\x1b[?47l\0338X",
         {"abX"}},
        {"the main screen's sets and origin mode come back after a save on the other",
         "\x1b(0\x1b[2;3r\x1b[?6h\x1b[?1049h\x1b(B\x1b[?6l\0337\x1b[?1049l\x1b[Hq",
         {"", "─"}},
        {"mode 1048 saves for the screen it is on",
         "\x1b[2;5H\x1b[?1048h\x1b[?47h\x1b[3;9H\x1b[?1048h\x1b[?47l\x1b[?1048lX",
         {"", "    X"}},
        {"the alternate screen keeps its save",
         "\x1b[?1047h\x1b[2;2H\0337\x1b[?1047l\0337\x1b[?1047h\0338X",
         {"", " X"}},
        {"a restore leaves the cursor shown", "\x1b[?1049h\x1b[?25l\0337\x1b[?25h\x1b[?1049l", {""}},
        {"and hidden", "\0337\x1b[?25l\0338", {""}, {}, true},
        // A scroll region needs two lines.
        {"a one-line region is ignored", "a\r\nb\r\nc\x1b[1;1r\nd", {"a", "b", "c", " d"}},
        {"a region ending above its top is ignored", "a\r\nb\x1b[3;2r\x1b[2;1H\nZ", {"a", "b", "Z"}},
        {"a region of two lines scrolls", "a\r\nb\x1b[1;2r\x1b[2;1H\nZ", {"b", "Z"}},
        // A repeat repeats the character right before it, once.
        {"a repeat after a repeat does nothing", "+\x1b[0b\x1b[10b", {"++"}},
        {"a repeat after a cursor move does nothing", "x\x1b[3;1H\x1b[3bY", {"x", "", "Y"}},
        {"a repeat after colours does nothing", "a\x1b[1m\x1b[2b", {"a"}},
        {"a repeat after a dropped title still repeats", "a\x1b]0;t\x07\x1b[2b", {"aaa"}},
        // Mode 47, the alternate screen of older programs.
        {"mode 47 shows the alternate screen", "main\x1b[?47halt", {"    alt"}},
        {"leaving mode 47 brings the main screen back", "main\x1b[?47halt\x1b[?47l", {"main"}},
        // The line-drawing and British sets.
        {"line drawing: blank, less or equal, greater or equal", "\x1b(0_yzq\x1b(B_yz", {" ≤≥─_yz"}},
        {"line drawing after a character beyond ASCII", "\x1b(0\xc3\xa9q\x1b(B", {"\xc3\xa9─"}},
        {"the British pound after one", "\x1b(A\xc3\xa9#\x1b(B#", {"\xc3\xa9£#"}},
        {"a soft reset gives the sets back", "\x1b(0\x1b[!pq", {"q"}},
        // This terminal refuses 132 columns: the switch does nothing at all.
        {"132 columns neither clears nor homes", "abc\r\ndef\x1b[?3hX", {"abc", "defX"}},
        {"other modes beside it still act", "\x1b[?3;47habc\x1b[?3;47l", {""}},
        // Attributes libvterm has no place for.
        {"faint, and normal intensity ends it",
         "\x1b[2mf\x1b[22mn",
         {"fn"},
         {{kDefault, kDefault, kFaint}, {}}},
        {"overline, then the reset", "\x1b[1;53mo\x1b[0mp", {"op"}, {{kDefault, kDefault, kOver | 1}, {}}},
        {"double underline apart from single",
         "\x1b[21md\x1b[24;4ms",
         {"ds"},
         {{kDefault, kDefault, kDouble}, {kDefault, kDefault, kUnder}}},
        {"numbers inside colours are no attributes",
         "\x1b[38;5;2;48;2;8;53;2mx\x1b[58:2::1:2:3;39;49mx",
         {"xx"},
         {{2, kTarvikRgbColor | 0x083502, 0}, {}}},
        {"a saved cursor keeps them",
         "\x1b[2;53m\0337\x1b[m\0338s",
         {"s"},
         {{kDefault, kDefault, kFaint | kOver}}},
        {"a full and a soft reset end them", "\x1b[2m\033cr\x1b[53m\x1b[!pr", {"rr"}, {{}, {}}},
        {"concealed text is blank but keeps its colours",
         "\x1b[8;41mhid\x1b[28;49mden",
         {"   den"},
         {{kDefault, 1, 0}, {kDefault, 1, 0}, {kDefault, 1, 0}, {}}},
    };
    std::vector<TarvikLineCell> cells(20);
    for (const Case &c : cases) {
        for (bool cut : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (cut ? ", a byte per read" : ""));
            std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(4, 20));
            for (size_t i = 0; i < c.bytes.size(); i += cut ? 1 : c.bytes.size())
                vt_feed_output(vt.get(), c.bytes.substr(i, cut ? 1 : std::string::npos));
            for (size_t r = 0; r < c.rows.size(); ++r) {
                EXPECT_EQ(vt_row_text(vt.get(), static_cast<int>(r)), c.rows[r]) << "row " << r;
            }
            EXPECT_EQ(tarvik_vt_cursor_visible(vt.get()), !c.cursor_hidden);
            tarvik_vt_line(vt.get(), 0, cells.data());
            for (size_t i = 0; i < c.styles.size(); ++i) {
                EXPECT_EQ(cells[i].style, c.styles[i])
                    << "cell " << i << " attributes " << cells[i].style.attrs;
            }
        }
    }
}

} // namespace
