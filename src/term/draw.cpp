// Painting an emulated screen into a curses window.
#include <wchar.h>

#include <algorithm>
#include <vector>

#include "term/vt_internal.h"

namespace {

// Shown as an emoji by the character before it.
constexpr uint32_t kEmojiPresentation = 0xFE0F;

attr_t cell_attrs(const TarvikStyle &style)
{
    attr_t a = A_NORMAL;
    if (style.attrs & kTarvikBold) a |= A_BOLD;
    if (style.attrs & kTarvikFaint) a |= A_DIM;
    if (style.attrs & kTarvikUnderline) a |= A_UNDERLINE;
    if (style.attrs & kTarvikItalic) a |= A_ITALIC;
    if (style.attrs & kTarvikBlink) a |= A_BLINK;
    if (style.attrs & kTarvikReverse) a |= A_REVERSE;
    return a;
}

// Characters that never go to the user's terminal: format characters (bidi embeddings, overrides and
// isolates, direction marks, joiners, invisible operators, tags ...) and the line and paragraph
// separators, on which a terminal may reorder or join what it shows around them; and the variation
// selectors, after which some terminals draw a character a column wider than its cell.
struct CharRange {
    uint32_t first, last;
};
constexpr CharRange kFormatChars[] = {
    {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},
    {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},
    {0x2066, 0x206F},   {0xFE0E, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// Drawn where libvterm and the C library disagree on a character's width, so that the user's terminal
// keeps the emulated screen's columns whichever of the two it agrees with.
wchar_t replacement_char()
{
    static const wchar_t r = wcwidth(0xFFFD) == 1 ? static_cast<wchar_t>(0xFFFD) : L'?';
    return r;
}

// Stands in each column of a character the user's locale cannot show (any but ASCII under LANG=C),
// so that the user sees something is there.
constexpr wchar_t kUnshowableChar = L'?';

// What a cell shows in `width` columns (its own width, or 1 where the window's edge cuts it): the
// character and its combining marks; a blank for a format character or one cut by the edge;
// kUnshowableChar for a character the locale cannot show; the replacement where the widths disagree.
// Returns what the right column of a wide cell shows when the text is narrower.
wchar_t cell_text(const TarvikLineCell &cell, int width, wchar_t (&text)[CCHARW_MAX + 1])
{
    text[0] = L' ';
    text[1] = 0;
    uint32_t base = cell.chars[0];
    if (base == 0 || width < cell.width || tarvik_char_is_format(base)) return L' ';
    int w = wcwidth(static_cast<wchar_t>(base));
    if (w < 0) {
        text[0] = kUnshowableChar;
        return kUnshowableChar;
    }
    if (w != cell.width) {
        text[0] = replacement_char();
        return L' ';
    }
    text[0] = static_cast<wchar_t>(base);
    int n = 1;
    for (int i = 1; i < kTarvikMaxChars && cell.chars[i] && n < CCHARW_MAX; ++i) {
        uint32_t mark = cell.chars[i];
        // Only marks that both sides draw on the character itself; anything else would move columns.
        // The emoji style keeps a wide character's two columns; after a narrow one, terminals disagree
        // on whether the emoji takes one column or two, so it stays text there.
        bool drawn = !tarvik_char_is_format(mark) || (mark == kEmojiPresentation && cell.width == 2);
        if (drawn && wcwidth(static_cast<wchar_t>(mark)) == 0) text[n++] = static_cast<wchar_t>(mark);
    }
    text[n] = 0;
    return L' ';
}

// What each window shows, so that drawing a screen again paints only the rows changed since: a
// keystroke's echo then costs one row, not the whole screen. A window's record holds while the window
// was last drawn from that screen at that place, the screen was drawn nowhere else since (that drawing
// took its damaged rows), and nothing else was drawn into the window (curses would have marked it
// touched). Otherwise the whole screen is painted.
struct DrawnRecord {
    const WINDOW *win;
    unsigned long serial; // of the screen drawn there
    int y, x;
};
std::vector<DrawnRecord> g_drawn;

// The part of each screen last drawn with tarvik_vt_draw_part, while it was the screen's last drawing.
struct PartRecord {
    unsigned long serial;
    const WINDOW *win;
    int y, x, rows, cols, top, left;
    bool operator==(const PartRecord &) const = default;
};
std::vector<PartRecord> g_parts;

bool window_holds(const TarvikVt *vt, WINDOW *win, int y, int x)
{
    if (is_wintouched(win)) return false;
    for (const DrawnRecord &d : g_drawn)
        if (d.win == win) return d.serial == vt->serial && d.y == y && d.x == x;
    return false;
}

// One record per window, and one per screen: the screen's other windows lose theirs.
void remember_drawn(const TarvikVt *vt, WINDOW *win, int y, int x)
{
    std::erase_if(g_drawn, [&](const DrawnRecord &d) { return d.win == win || d.serial == vt->serial; });
    g_drawn.push_back({win, vt->serial, y, x});
    std::erase_if(g_parts, [&](const PartRecord &p) { return p.serial == vt->serial; });
}

// Paints one cell at (y, x); `room` is how many columns the window has from x on.
void paint_cell(WINDOW *win, int y, int x, const TarvikLineCell &cell, int room)
{
    // A wide character cut by the window's edge would wrap: it gets one column, and a blank.
    int width = cell.width == 2 && room >= 2 ? 2 : 1;
    wchar_t text[CCHARW_MAX + 1];
    wchar_t right = cell_text(cell, width, text);
    cchar_t cc;
    int pair = palette_pair(cell.style.fg, cell.style.bg);
    attr_t attrs = cell_attrs(cell.style);
    if (setcchar(&cc, text, attrs, static_cast<short>(pair), &pair) == ERR) {
        const wchar_t blank[] = L" ";
        setcchar(&cc, blank, attrs, static_cast<short>(pair), &pair);
    }
    mvwadd_wch(win, y, x, &cc);
    overdraw_note(win, y, x, cc, cell.style.attrs);
    // Something narrower in a wide cell: its right column is written too, or it would keep
    // whatever the window showed there before.
    if (width == 2 && wcwidth(text[0]) != 2) {
        const wchar_t fill[] = {right, 0};
        setcchar(&cc, fill, attrs, static_cast<short>(pair), &pair);
        mvwadd_wch(win, y, x + 1, &cc);
    }
}

// Paints `cols` cells of screen row `row` from column `left` on at (y, x): the blanks after the row's
// last cell that shows anything, and a row outside the screen, look as the screen's blanks do.
void paint_row(TarvikVt *vt, WINDOW *win, int y, int x, int row, int left, int cols)
{
    // Kept between calls: every frame comes through here.
    static std::vector<TarvikLineCell> cells;
    cells.resize(static_cast<size_t>(vt->cols));
    TarvikLineCell blank{};
    blank.chars[0] = ' ';
    blank.width = 1;
    if (vt->reverse_video) blank.style.attrs = kTarvikReverse;
    int n = tarvik_vt_line(vt, row, cells.data());
    for (int col = 0; col < cols; ++col) {
        int at = left + col;
        const TarvikLineCell *cell = at >= 0 && at < n ? &cells[static_cast<size_t>(at)] : &blank;
        // Covered by the wide character on its left, unless the edge cut that one off: then a blank.
        if (cell->width == 0) {
            if (col > 0) continue;
            cell = &blank;
        }
        paint_cell(win, y, x + col, *cell, cols - col);
    }
}

} // namespace

bool tarvik_char_is_format(uint32_t ch)
{
    if (ch < kFormatChars[0].first) return false;
    for (const CharRange &r : kFormatChars)
        if (ch >= r.first && ch <= r.last) return true;
    return false;
}

void tarvik_vt_draw(TarvikVt *vt, WINDOW *win, int y, int x)
{
    if (!vt || !win) return;
    int max_y, max_x;
    getmaxyx(win, max_y, max_x);
    int rows = std::min(vt->rows, max_y - y);
    int cols = std::min(vt->cols, max_x - x);
    int from = 0, to = rows;
    if (window_holds(vt, win, y, x)) {
        from = std::max(0, vt->damage_top);
        to = std::min(rows, vt->damage_bottom);
    }
    vt->damage_top = vt->damage_bottom = 0;
    remember_drawn(vt, win, y, x);
    palette_next_frame();
    for (int row = from; row < to; ++row) paint_row(vt, win, y + row, x, row, 0, cols);
    VTermPos cursor;
    vterm_state_get_cursorpos(vt->state, &cursor);
    wmove(win, y + std::clamp(cursor.row, 0, std::max(0, rows - 1)),
          x + std::clamp(cursor.col, 0, std::max(0, cols - 1)));
}

namespace {

bool draw_part(TarvikVt *vt, WINDOW *win, int y, int x, int rows, int cols, int top, int left, bool changes)
{
    if (!vt || !win) return false;
    rows = std::min(rows, getmaxy(win) - y);
    cols = std::min(cols, getmaxx(win) - x);
    if (rows <= 0 || cols <= 0) return false;
    // The damage from now on is this part's: the whole drawing's windows lose their records and are
    // painted whole next time.
    std::erase_if(g_drawn, [&](const DrawnRecord &d) { return d.serial == vt->serial; });
    const PartRecord part{vt->serial, win, y, x, rows, cols, top, left};
    // Another screen's part that this one paints over no longer shows.
    std::erase_if(g_parts, [&](const PartRecord &p) {
        return p.serial != vt->serial && p.win == win && p.y < y + rows && y < p.y + p.rows &&
               p.x < x + cols && x < p.x + p.cols;
    });
    auto was = std::find_if(g_parts.begin(), g_parts.end(),
                            [&](const PartRecord &p) { return p.serial == vt->serial; });
    int from = 0, to = rows;
    if (changes && was != g_parts.end() && *was == part) {
        from = std::clamp(vt->damage_top - top, 0, rows);
        to = std::clamp(vt->damage_bottom - top, from, rows);
    }
    if (was != g_parts.end())
        *was = part;
    else
        g_parts.push_back(part);
    vt->damage_top = vt->damage_bottom = 0;
    int was_y, was_x;
    getyx(win, was_y, was_x);
    for (int r = from; r < to; ++r) paint_row(vt, win, y + r, x, top + r, left, cols);
    VTermPos cursor;
    vterm_state_get_cursorpos(vt->state, &cursor);
    if (cursor.row < top || cursor.row >= top + rows || cursor.col < left || cursor.col >= left + cols) {
        wmove(win, was_y, was_x);
        return false;
    }
    wmove(win, y + cursor.row - top, x + cursor.col - left);
    return true;
}

} // namespace

bool tarvik_vt_draw_part(TarvikVt *vt, WINDOW *win, int y, int x, int rows, int cols, int top, int left)
{
    return draw_part(vt, win, y, x, rows, cols, top, left, false);
}

bool tarvik_vt_draw_part_changes(TarvikVt *vt, WINDOW *win, int y, int x, int rows, int cols, int top,
                                 int left)
{
    return draw_part(vt, win, y, x, rows, cols, top, left, true);
}

void tarvik_next_frame()
{
    palette_next_frame();
}

void tarvik_draw_line(WINDOW *win, int y, int x, const TarvikLineCell *cells, int count)
{
    if (!win) return;
    int room = getmaxx(win) - x;
    // No new frame: the lines of one view share the frame of their colour pairs, so that none of them
    // takes another's pair.
    for (int col = 0; col < count && col < room; ++col) {
        if (cells[col].width == 0) continue;
        paint_cell(win, y, x + col, cells[col], room - col);
    }
}
