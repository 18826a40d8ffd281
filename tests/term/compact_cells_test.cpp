// A screen keeps its cells compactly: lines only as long as what was written, looks and characters
// with marks in tables that are collected as they grow. A plain reference, a full grid of whole cells
// painted by a second libvterm from the same bytes, must read the same as the screen for every cell,
// through text, colours (many more than a table holds before it is collected), wide characters,
// combining marks, erases, scrolls, inserts and deletes, and switches to the alternate screen and back.
#include <gtest/gtest.h>
#include <vterm.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/vt_text.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

struct PlainCell {
    uint32_t chars[VTERM_MAX_CHARS_PER_CELL] = {};
    TarvikStyle style;
    bool concealed = false, protected_cell = false;
};

// Both screens in full, every cell whole; libvterm itself scrolls them cell by cell.
struct Plain {
    std::unique_ptr<VTerm, VTermFree> vt;
    VTermState *state = nullptr;
    const TarvikVt *screen = nullptr; // whose output filter holds the attributes libvterm has no room for
    int rows = 0, cols = 0;
    std::vector<PlainCell> cells[2];
    bool alt = false, reverse = false;
    VTermColor fg{}, bg{};
    uint16_t attrs = 0;
    PlainCell &at(int row, int col) { return cells[alt][static_cast<size_t>(row * cols + col)]; }
};

uint32_t code(const VTermColor &c, bool fg)
{
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return kTarvikDefaultColor;
    if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
    return kTarvikRgbColor | uint32_t{c.rgb.red} << 16 | uint32_t{c.rgb.green} << 8 | c.rgb.blue;
}

Plain &plain(void *user)
{
    return *static_cast<Plain *>(user);
}

PlainCell erased(const Plain &p)
{
    PlainCell c;
    c.style = {code(p.fg, true), code(p.bg, false), 0};
    return c;
}

bool covered(const PlainCell &c)
{
    return c.chars[0] == kCoveredChar;
}

int put(VTermGlyphInfo *info, VTermPos pos, void *user)
{
    Plain &p = plain(user);
    if (pos.row < 0 || pos.row >= p.rows || pos.col < 0 || pos.col >= p.cols) return 1;
    int width = std::max(1, info->width);
    if (pos.col + width > p.cols) width = 1;
    PlainCell &c = p.at(pos.row, pos.col);
    // A mark comes with its character again; anything else written over half a wide character takes
    // the other half with it.
    if (c.chars[0] != info->chars[0] || c.chars[0] == 0 || covered(c)) {
        for (int col = pos.col; col < pos.col + width; ++col) {
            if (covered(p.at(pos.row, col)) && col > 0) p.at(pos.row, col - 1) = erased(p);
            if (col + 1 < p.cols && covered(p.at(pos.row, col + 1))) p.at(pos.row, col + 1) = erased(p);
        }
    }
    PlainCell n;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && info->chars[i]; ++i) n.chars[i] = info->chars[i];
    uint16_t extra = p.screen->filter.now.extra;
    n.style = {code(p.fg, true), code(p.bg, false),
               static_cast<uint16_t>((p.attrs | extra) & ~kCellConcealed)};
    n.concealed = extra & kCellConcealed;
    n.protected_cell = info->protected_cell;
    c = n;
    if (width == 2) {
        p.at(pos.row, pos.col + 1) = n;
        p.at(pos.row, pos.col + 1).chars[0] = kCoveredChar;
        p.at(pos.row, pos.col + 1).chars[1] = 0;
    }
    return 1;
}

int erase(VTermRect r, int selective, void *user)
{
    Plain &p = plain(user);
    for (int row = std::max(0, r.start_row); row < std::min(p.rows, r.end_row); ++row)
        for (int col = std::max(0, r.start_col); col < std::min(p.cols, r.end_col); ++col)
            if (!selective || !p.at(row, col).protected_cell) p.at(row, col) = erased(p);
    return 1;
}

int move(VTermRect dest, VTermRect src, void *user)
{
    Plain &p = plain(user);
    std::vector<PlainCell> from;
    for (int row = src.start_row; row < src.end_row; ++row)
        for (int col = src.start_col; col < src.end_col; ++col) from.push_back(p.at(row, col));
    size_t i = 0;
    for (int row = dest.start_row; row < dest.start_row + (src.end_row - src.start_row); ++row)
        for (int col = dest.start_col; col < dest.start_col + (src.end_col - src.start_col); ++col)
            p.at(row, col) = from[i++];
    return 1;
}

int pen_attr(VTermAttr attr, VTermValue *val, void *user)
{
    Plain &p = plain(user);
    auto flag = [&](uint16_t bit, bool on) {
        p.attrs = static_cast<uint16_t>(on ? p.attrs | bit : p.attrs & ~bit);
    };
    switch (attr) {
    case VTERM_ATTR_BOLD: flag(kTarvikBold, val->boolean); break;
    case VTERM_ATTR_UNDERLINE:
        flag(kTarvikUnderline, val->number != VTERM_UNDERLINE_OFF);
        flag(kTarvikDoubleUnderline, val->number == VTERM_UNDERLINE_DOUBLE);
        break;
    case VTERM_ATTR_ITALIC: flag(kTarvikItalic, val->boolean); break;
    case VTERM_ATTR_BLINK: flag(kTarvikBlink, val->boolean); break;
    case VTERM_ATTR_REVERSE: flag(kTarvikReverse, val->boolean); break;
    case VTERM_ATTR_STRIKE: flag(kTarvikStrike, val->boolean); break;
    case VTERM_ATTR_FOREGROUND: p.fg = val->color; break;
    case VTERM_ATTR_BACKGROUND: p.bg = val->color; break;
    default: break;
    }
    return 1;
}

int init_pen(void *user)
{
    Plain &p = plain(user);
    p.attrs = 0;
    vterm_state_get_default_colors(p.state, &p.fg, &p.bg);
    return 1;
}

int term_prop(VTermProp prop, VTermValue *val, void *user)
{
    Plain &p = plain(user);
    if (prop == VTERM_PROP_ALTSCREEN) p.alt = val->boolean;
    if (prop == VTERM_PROP_REVERSE) p.reverse = val->boolean;
    return 1;
}

int line_info(int row, const VTermLineInfo *now, const VTermLineInfo *before, void *user)
{
    Plain &p = plain(user);
    if (now->doublewidth && !before->doublewidth) erase(VTermRect{row, row + 1, p.cols / 2, p.cols}, 0, user);
    return 1;
}

std::unique_ptr<Plain> make_plain(const TarvikVt *screen, int rows, int cols)
{
    auto p = std::make_unique<Plain>();
    p->screen = screen;
    p->rows = rows;
    p->cols = cols;
    p->vt.reset(vterm_new(rows, cols));
    vterm_set_utf8(p->vt.get(), 1);
    p->state = vterm_obtain_state(p->vt.get());
    static VTermStateCallbacks cb = [] {
        VTermStateCallbacks c{};
        c.putglyph = put;
        c.erase = erase;
        c.moverect = move;
        c.setpenattr = pen_attr;
        c.initpen = init_pen;
        c.settermprop = term_prop;
        c.setlineinfo = line_info;
        return c;
    }();
    vterm_state_set_callbacks(p->state, &cb, p.get());
    init_pen(p.get());
    PlainCell blank = erased(*p);
    for (auto &grid : p->cells) grid.assign(static_cast<size_t>(rows * cols), blank);
    vterm_state_reset(p->state, 1);
    return p;
}

// The plain cell as the screen should read it, in the form of scrolled lines.
TarvikLineCell read_plain(Plain &p, int row, int col)
{
    const PlainCell &c = p.at(row, col);
    TarvikLineCell o{};
    bool wide = col + 1 < p.cols && covered(p.at(row, col + 1));
    o.width = covered(c) ? (col == 0 || covered(p.at(row, col - 1)) ? 1 : 0) : wide ? 2 : 1;
    if (!covered(c) && !c.concealed)
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i]; ++i)
            o.chars[i] =
                c.chars[i] > 0x10FFFF || (c.chars[i] >= 0xD800 && c.chars[i] <= 0xDFFF) ? 0xFFFD : c.chars[i];
    if (o.chars[0] == 0 && o.width != 0) o.chars[0] = ' ';
    o.style = c.style;
    if (p.reverse) o.style.attrs ^= kTarvikReverse;
    return o;
}

// A line ends after its last cell that shows a character or a colour or line behind a blank.
int plain_length(Plain &p, int row)
{
    int n = p.cols;
    auto blank = [&](int col) {
        const PlainCell &c = p.at(row, col);
        uint16_t lines = kTarvikReverse | kTarvikUnderline | kTarvikStrike | kTarvikOverline;
        return (c.chars[0] == 0 || c.chars[0] == ' ' || c.concealed) && c.style.bg == kTarvikDefaultColor &&
               !(c.style.attrs & lines);
    };
    while (n > 0 && blank(n - 1)) --n;
    return n;
}

// The first place where the screen reads otherwise than the reference; "" when none.
std::string difference(const TarvikVt *vt, Plain &p)
{
    std::vector<TarvikLineCell> line(static_cast<size_t>(p.cols));
    for (int row = 0; row < p.rows; ++row) {
        int n = tarvik_vt_line(vt, row, line.data());
        std::string where = "row " + std::to_string(row);
        std::vector<TarvikLineCell> want;
        for (int col = 0; col < p.cols; ++col) want.push_back(read_plain(p, row, col));
        int length = plain_length(p, row);
        if (vt_line_state(line.data(), n) != vt_line_state(want.data(), length))
            return where + ": " + vt_line_state(line.data(), n) + " instead of " +
                   vt_line_state(want.data(), length);
        for (int col = 0; col < p.cols; ++col) {
            TarvikCell got = tarvik_vt_cell(vt, row, col);
            const TarvikLineCell &w = want[static_cast<size_t>(col)];
            uint32_t ch = w.width == 0 ? 32 : w.chars[0];
            if (got.ch != ch || got.width != w.width)
                return where + " col " + std::to_string(col) + ": " + std::to_string(got.ch) + "/" +
                       std::to_string(got.width) + " instead of " + std::to_string(ch) + "/" +
                       std::to_string(w.width);
        }
    }
    return "";
}

// One piece of output: text, a character with marks, colours (RGB ones drawn from thousands), an
// erase, a scroll, a move, a switch of screens.
std::string token(std::mt19937 &rng)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto num = [&] { return std::to_string(pick(10)); };
    static const char *const kMarked[] = {"e\xcc\x81", "a\xcc\x81\xcc\x88", "\xe5\xad\x97\xcc\x81",
                                          "\xcc\x88", "o\xcc\x83\xcc\x81\xcc\x88\xcc\x84"};
    static const char *const kSgr[] = {"0",  "1",  "2",  "4",        "21",      "5",  "7",  "8",
                                       "9",  "22", "24", "27",       "28",      "31", "42", "39",
                                       "49", "53", "55", "38;5;200", "48;5;17", "93", "104"};
    switch (pick(25)) {
    case 0:
    case 1:
    case 2: {
        std::string s;
        for (int i = 0, n = 1 + pick(12); i < n; ++i) s += static_cast<char>('a' + pick(26));
        return s;
    }
    case 3: return pick(2) ? "\xe5\xad\x97" : "\xe4\xb8\x80\xe4\xb8\x80";
    case 4: return kMarked[pick(5)];
    case 5: return std::string("\x1b[") + kSgr[pick(23)] + "m";
    case 6:
    case 22:
    case 23:
    case 24:
        return "\x1b[" + std::string(pick(2) ? "38" : "48") + ";2;" + std::to_string(pick(256)) + ";" +
               std::to_string(pick(256)) + ";" + std::to_string(pick(256)) + "m";
    case 7: return "\r\n";
    case 8: return "\x1b[" + num() + ";" + num() + "H";
    case 9: return "\x1b[" + std::to_string(pick(3)) + "J";
    case 10: return "\x1b[" + std::to_string(pick(3)) + "K";
    case 11: return "\x1b[" + num() + "X";
    case 12: return "\x1b[?" + std::to_string(pick(3)) + (pick(2) ? "J" : "K");
    case 13: return pick(2) ? "\x1b[1\"q" : "\x1b[0\"q";
    case 14: return "\x1b[" + num() + (pick(2) ? "@" : "P");
    case 15: return "\x1b[" + num() + (pick(2) ? "L" : "M");
    case 16: return "\x1b[" + num() + (pick(2) ? "S" : "T");
    case 17: return "\x1b[" + num() + ";" + num() + "r";
    case 18: return pick(2) ? "\x1bM" : "\n";
    case 19: {
        static const char *const kScreens[] = {"\x1b[?1049h", "\x1b[?1049l", "\x1b[?47h",
                                               "\x1b[?47l",   "\x1b[?1047h", "\x1b[?1047l"};
        return kScreens[pick(6)];
    }
    case 20: return pick(2) ? "\x1b[?5h" : "\x1b[?5l";
    default: return pick(2) ? "\x1b#6" : "\t";
    }
}

TEST(CompactCells, ReadAsAPlainGridOfWholeCellsForRandomOutput)
{
    std::mt19937 rng(20261210);
    for (int run = 0; run < 60; ++run) {
        int rows = 1 + static_cast<int>(rng() % 8), cols = 2 + static_cast<int>(rng() % 12);
        std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(rows, cols));
        std::string passed;
        vt->filter.copy_to = &passed;
        std::unique_ptr<Plain> p = make_plain(vt.get(), rows, cols);
        // As the screen starts, with a saved cursor of default colours.
        vterm_input_write(p->vt.get(), kSaveDefaults, sizeof kSaveDefaults - 1);
        // A piece at a time, so that the attributes the filter keeps are those of the piece's glyphs.
        std::string recent;
        // Every look and marked character that a cell names is kept; of the rest only as many as there
        // were kept ones, or a few.
        const size_t named = 2 * (2 * static_cast<size_t>(rows) * cols + rows + 1);
        for (int step = 0; step < 2000; ++step) {
            std::string bytes = token(rng);
            recent += bytes;
            if (recent.size() > 300) recent.erase(0, recent.size() - 300);
            passed.clear();
            vt_feed_output(vt.get(), bytes);
            vterm_input_write(p->vt.get(), passed.data(), passed.size());
            ASSERT_LE(vt->tables.styles.size(), std::max<size_t>(256, named)) << "run " << run;
            ASSERT_LE(vt->tables.clusters.size(), std::max<size_t>(64, named)) << "run " << run;
            if (step % 10 != 9) continue;
            std::string diff = difference(vt.get(), *p);
            ASSERT_EQ(diff, "") << rows << "x" << cols << " run " << run << " step " << step << " after "
                                << testing::PrintToString(recent);
        }
    }
}

} // namespace
