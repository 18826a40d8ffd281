// What reaches libvterm from a child: sequences that would crash or hang it are dropped, everything
// else acts as before, however the bytes are cut into reads.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "term/tarvik.h"
#include "support/vt_text.h"
#include "term/vt_internal.h"

namespace {

std::string row_text(const TarvikVt *vt, int row)
{
    return vt_row_text(vt, row);
}

std::string times(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// "ESC [ 2;3;1;1;... H" with n parameters in all: the cursor goes to row 2, column 3 when it acts.
std::string cup_with_args(int n)
{
    std::string s = "\x1b[2;3";
    for (int i = 2; i < n; ++i) s += ";1";
    return s + "H";
}

struct Case {
    const char *what;
    std::vector<std::string> reads;
    std::string row0, row1;
};

void run_cases(const std::vector<Case> &cases)
{
    // A repeat that hangs libvterm would otherwise only end at the test runner's time-out.
    alarm(30);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(3, 20));
        for (const std::string &r : c.reads) vt_write(vt.get(), r.data(), r.size());
        EXPECT_EQ(row_text(vt.get(), 0), c.row0);
        EXPECT_EQ(row_text(vt.get(), 1), c.row1);
    }
    alarm(0);
}

TEST(OutputFilter, RepeatsTheLastGlyphAndDropsARepeatOfNothing)
{
    run_cases({
        {"repeats the last character", {"ab\x1b[3b"}, "abbbb", ""},
        {"a repeat cut between reads", {"ab\x1b[", "3", "b"}, "abbbb", ""},
        {"repeats a line-drawing character", {"\xe2\x94\x80\x1b[4b"}, times("\xe2\x94\x80", 5), ""},
        {"the letter b and other sequences ending in b stay", {"bob\x1b[?5b\x1b[ b!"}, "bob!", ""},
        {"a wide character repeats over columns, as libvterm counts",
         {"\xe6\xbc\xa2\x1b[3b"},
         times("\xe6\xbc\xa2", 3),
         ""},
        {"a wide character repeats up to the last place it fits",
         {"\x1b[1;16H\xe6\xbc\xa2\x1b[9b"},
         std::string(15, ' ') + times("\xe6\xbc\xa2", 2),
         ""},
        {"a wide character in the last place is not repeated past the line",
         {"\x1b[1;18H\xe6\xbc\xa2\x1b[b"},
         std::string(17, ' ') + "\xe6\xbc\xa2",
         ""},
        {"nothing printed yet", {"\x1b[5b", "x"}, "x", ""},
        {"only DEL and a shift printed", {"\x7f\x0e\x1b[b", "\x0fz"}, "z", ""},
        {"a lone combining mark", {"a\r\n\xcc\x81\x1b[3b", "y"}, "a", "y"},
        {"a lone zero-width space", {"a\r\n\xe2\x80\x8b\x1b[9b", "y"}, "a", "y"},
        {"a cut UTF-8 sequence shows as U+FFFD, which repeats",
         {"\xe6\xbc\x1b[b", "w"},
         times("\xef\xbf\xbd", 2) + "w",
         ""},
        {"a C1 control sent as UTF-8", {"\xc2\x81\x1b[b", "v"}, "v", ""},
        {"text inside a dropped title is not what a repeat repeats",
         {"\xcc\x81\x1b]0;abc\x07\x1b[3b"},
         "\xcc\x81",
         ""},
    });
}

TEST(OutputFilter, DropsWhatLibvtermCannotTakeAndPassesTheRest)
{
    run_cases({
        {"16 parameters act", {cup_with_args(16) + "x"}, "", "  x"},
        {"17 parameters are dropped", {cup_with_args(17) + "x"}, "x", ""},
        {"40 parameters and sub-parameters are dropped", {"\x1b[" + times("1:", 40) + "mx"}, "x", ""},
        {"too many parameters cut across reads",
         {"\x1b[2;3", times(";1", 10), times(";1", 10) + "Hx"},
         "x",
         ""},
        {"a title and what follows it", {"\x1b]0;title\x07ok \x1b]2;t\x1b\\on"}, "ok on", ""},
        {"device control and application strings",
         {"\x1bP$qm\x1b\\a\x1b_apc\x1b\\b\x1b^pm\x07"
          "c"},
         "abc",
         ""},
        {"a string ended by another sequence", {"\x1b]0;t\x1b[2Cx"}, "  x", ""},
        {"a sequence cut between reads", {"\x1b[", "2", "Cx"}, "  x", ""},
        {"a control inside a sequence acts at once", {"abc\x1b[\r2Cx"}, "abx", ""},
        {"CAN cancels a sequence",
         {"\x1b[2\x18"
          "Cx"},
         "Cx",
         ""},
        {"a non-ASCII byte ends a sequence and is text", {"\x1b[2\xc3\xa9x"}, "\xc3\xa9x", ""},
        {"a malformed sequence is dropped whole", {"\x1b[1 2mX\x1b[1;2?3hY"}, "XY", ""},
        {"escape sequences with intermediates pass", {"\x1b(0q\x1b(Bq"}, "\xe2\x94\x80q", ""},
        {"ESC ESC starts over", {"\x1b\x1b[2Cx"}, "  x", ""},
        {"C1 controls sent as UTF-8 do not move the cursor back",
         {"ab\xc2\x81\xc2\x9b"
          "c"},
         "abc",
         ""},
        {"malformed UTF-8 shows as U+FFFD",
         {"a\xf8\x80\xed\xa0\x80"
          "b"},
         "a" + times("\xef\xbf\xbd", 5) + "b",
         ""},
        {"a character split between reads", {"\xe6", "\xbc", "\xa2!"}, "\xe6\xbc\xa2!", ""},
        {"no sequence or string starts after escape intermediates", {"\x1b/[2C\x1b(]x\x1b#Py"}, "2Cxy", ""},
    });
}

TEST(OutputFilter, PrivateModesStillReachTheScreen)
{
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(3, 20));
    std::string hide = "\x1b[?25l";
    vt_write(vt.get(), hide.data(), hide.size());
    EXPECT_FALSE(tarvik_vt_cursor_visible(vt.get()));
}

} // namespace
