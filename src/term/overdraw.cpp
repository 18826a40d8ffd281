// Strike-through, overline and double underline, which curses has no attribute for: after curses has
// sent an update, the cells that have them are written again with them, straight to the user's
// terminal, where its description has them (smxx, Smol, Smulx).
//
// Only over cells that curses' picture of the screen (curscr) holds as they were drawn: whatever was
// drawn over them since, a popup or another panel, is left alone. Curses leaves the terminal with no
// attributes and the cursor where it wants it; so does this, so that curses' idea of the terminal
// stays true. A cell is written again only when curses may have written over it: its row changed since,
// or curses cleared the screen; and a cell that has lost the attributes is written once more without
// them, as curses, which never knew of them, would not.
#include <wchar.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "term/vt_internal.h"

namespace {

// The terminal description's strings this file sends, for the curses screen they were read on.
struct Caps {
    const WINDOW *screen = nullptr;
    uint16_t has = 0; // of strike, overline and double underline: what the terminal shows
    const char *strike = nullptr, *overline = nullptr, *styled_underline = nullptr;
    const char *sgr0 = nullptr, *op = nullptr, *cup = nullptr, *setaf = nullptr, *setab = nullptr;
    const char *bold = nullptr, *dim = nullptr, *smul = nullptr, *sitm = nullptr, *blink = nullptr,
               *rev = nullptr;
};

const char *cap(const char *name)
{
    const char *s = tigetstr(name);
    return s && s != reinterpret_cast<char *>(-1) ? s : nullptr;
}

struct Mark {
    cchar_t cc;      // the cell as drawn
    uint16_t extras; // what curses cannot show of it
};

struct Overdraw {
    Caps caps;
    // By screen position (row << 16 | column): the cells that should show extras, and those that do.
    std::unordered_map<long, Mark> wanted, shown;
    // Of the rows with either: what curses' picture of the row was when last overdrawn.
    std::unordered_map<int, std::vector<cchar_t>> rows;
};
Overdraw g_over;

long position(int row, int col)
{
    return static_cast<long>(row) << 16 | col;
}

// The capabilities of the running curses screen; what was noted for another screen is forgotten.
const Caps &caps()
{
    Overdraw &o = g_over;
    if (o.caps.screen == stdscr) return o.caps;
    o = Overdraw{};
    Caps &c = o.caps;
    c.screen = stdscr;
    c.strike = cap("smxx");
    c.overline = cap("Smol");
    c.styled_underline = cap("Smulx");
    c.sgr0 = cap("sgr0");
    c.cup = cap("cup");
    // Without a way to end attributes and to move, nothing can be written over curses' picture.
    if (c.sgr0 && c.cup)
        c.has = static_cast<uint16_t>((c.strike ? kTarvikStrike : 0) | (c.overline ? kTarvikOverline : 0) |
                                      (c.styled_underline ? kTarvikDoubleUnderline : 0));
    c.op = cap("op");
    c.setaf = cap("setaf");
    c.setab = cap("setab");
    c.bold = cap("bold");
    c.dim = cap("dim");
    c.smul = cap("smul");
    c.sitm = cap("sitm");
    c.blink = cap("blink");
    c.rev = cap("rev");
    return c;
}

bool same_cell(const cchar_t &a, const cchar_t &b)
{
    wchar_t wa[CCHARW_MAX + 1], wb[CCHARW_MAX + 1];
    attr_t aa, ab;
    int pa = 0, pb = 0;
    short sa, sb;
    getcchar(&a, wa, &aa, &sa, &pa);
    getcchar(&b, wb, &ab, &sb, &pb);
    return aa == ab && pa == pb && std::wcscmp(wa, wb) == 0;
}

// What curses' picture of the screen holds at a position.
cchar_t screen_cell(long pos)
{
    cchar_t cc{};
    mvwin_wch(curscr, static_cast<int>(pos >> 16), static_cast<int>(pos & 0xFFFF), &cc);
    return cc;
}

std::vector<cchar_t> screen_row(int row)
{
    std::vector<cchar_t> cells(static_cast<size_t>(getmaxx(curscr)) + 1);
    mvwin_wchnstr(curscr, row, 0, cells.data(), getmaxx(curscr));
    return cells;
}

bool same_row(const std::vector<cchar_t> &a, const std::vector<cchar_t> &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!same_cell(a[i], b[i])) return false;
    return true;
}

// Writes the cell at its place in its colours and attributes, with `extras` on top.
void put_cell(std::string &out, const Caps &c, long pos, const cchar_t &cc, uint16_t extras)
{
    wchar_t text[CCHARW_MAX + 1];
    attr_t attrs;
    short short_pair;
    int pair = 0;
    getcchar(&cc, text, &attrs, &short_pair, &pair);
    out += tiparm(c.cup, static_cast<int>(pos >> 16), static_cast<int>(pos & 0xFFFF));
    out += c.sgr0;
    int fg = -1, bg = -1;
    extended_pair_content(pair, &fg, &bg);
    if (c.op) out += c.op;
    if (fg >= 0 && c.setaf) out += tiparm(c.setaf, fg);
    if (bg >= 0 && c.setab) out += tiparm(c.setab, bg);
    const std::pair<attr_t, const char *> kinds[] = {{A_BOLD, c.bold},      {A_DIM, c.dim},
                                                     {A_UNDERLINE, c.smul}, {A_ITALIC, c.sitm},
                                                     {A_BLINK, c.blink},    {A_REVERSE, c.rev}};
    for (const auto &[bit, on] : kinds)
        if ((attrs & bit) && on) out += on;
    if (extras & kTarvikStrike) out += c.strike;
    if (extras & kTarvikOverline) out += c.overline;
    if (extras & kTarvikDoubleUnderline) out += tiparm(c.styled_underline, 2);
    mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (int i = 0; i < CCHARW_MAX && text[i]; ++i) {
        size_t n = wcrtomb(bytes, text[i], &state);
        if (n != static_cast<size_t>(-1)) out.append(bytes, n);
    }
}

} // namespace

void overdraw_note(WINDOW *win, int y, int x, const cchar_t &cc, uint16_t attrs)
{
    uint16_t extras = attrs & caps().has;
    Overdraw &o = g_over;
    if (!extras && o.wanted.empty()) return;
    long pos = position(getbegy(win) + y, getbegx(win) + x);
    if (extras)
        o.wanted[pos] = {cc, extras};
    else
        o.wanted.erase(pos);
}

void tarvik_update(FILE *out)
{
    const Caps &c = caps();
    Overdraw &o = g_over;
    // A screen cleared by this update is painted again whole, without the extras.
    bool cleared = is_cleared(curscr) || is_cleared(newscr);
    doupdate();
    if (o.wanted.empty() && o.shown.empty()) return;
    int cursor_row, cursor_col;
    getyx(curscr, cursor_row, cursor_col);
    // The rows that curses may have written over since they were last overdrawn.
    std::unordered_map<int, bool> changed;
    auto row_changed = [&](int row) {
        auto [it, fresh] = changed.try_emplace(row, true);
        if (!fresh) return it->second;
        std::vector<cchar_t> now = screen_row(row);
        auto kept = o.rows.find(row);
        it->second = cleared || kept == o.rows.end() || !same_row(kept->second, now);
        return it->second;
    };
    std::string bytes;
    std::unordered_map<long, Mark> shown;
    for (auto it = o.wanted.begin(); it != o.wanted.end();) {
        auto [pos, mark] = *it;
        if (!same_cell(screen_cell(pos), mark.cc)) {
            it = o.wanted.erase(it); // drawn over
            continue;
        }
        auto was = o.shown.find(pos);
        bool same =
            was != o.shown.end() && was->second.extras == mark.extras && same_cell(was->second.cc, mark.cc);
        if (!same || row_changed(static_cast<int>(pos >> 16))) put_cell(bytes, c, pos, mark.cc, mark.extras);
        shown[pos] = mark;
        ++it;
    }
    for (const auto &[pos, mark] : o.shown)
        if (!shown.count(pos) && same_cell(screen_cell(pos), mark.cc)) put_cell(bytes, c, pos, mark.cc, 0);
    o.shown = std::move(shown);
    o.rows.clear();
    for (const auto &[pos, mark] : o.shown) {
        int row = static_cast<int>(pos >> 16);
        if (!o.rows.count(row)) o.rows[row] = screen_row(row);
    }
    wmove(curscr, cursor_row, cursor_col);
    if (bytes.empty()) return;
    bytes += c.sgr0;
    if (c.op) bytes += c.op;
    bytes += tiparm(c.cup, cursor_row, cursor_col);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
}
