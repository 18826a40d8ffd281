// The cells of an emulated screen, kept by the program itself from what libvterm's state layer reports.
//
// libvterm's own screen layer moves every cell of the screen in memory for each line that scrolls,
// which made a machine printing fast cost several times what a terminal multiplexer spends, and it
// keeps tens of bytes for every cell of both screens, written or not, on every machine. Here a screen is
// a list of lines that a scroll moves whole, a line holds its cells only as far as something was
// written to it, and a cell is a character and the number of its look (cell_tables.cpp); the alternate
// screen exists only while a program uses it. A machine idle at its prompt costs a few kilobytes.
#include <algorithm>
#include <cstring>

#include "term/vt_internal.h"

namespace {

constexpr uint16_t kBold = kTarvikBold, kUnderline = kTarvikUnderline, kItalic = kTarvikItalic,
                   kBlink = kTarvikBlink, kReverse = kTarvikReverse, kStrike = kTarvikStrike,
                   kDoubleUnderline = kTarvikDoubleUnderline;
static_assert(kTarvikMaxChars == VTERM_MAX_CHARS_PER_CELL);
// A line's cells grow by at least this many at a time, so that typing does not grow them one by one.
constexpr size_t kRowGrowth = 8;

// Versions are drawn from one counter, so that no two screens ever share one.
unsigned long g_versions = 0;

TarvikVt *owner(void *user)
{
    return static_cast<TarvikVt *>(user);
}

VtBuffer &active(TarvikVt *vt)
{
    return vt->alt_active ? vt->alt : vt->primary;
}

const VtBuffer &active(const TarvikVt *vt)
{
    return vt->alt_active ? vt->alt : vt->primary;
}

size_t ring_index(const VtBuffer &buf, int row)
{
    size_t i = buf.top + static_cast<size_t>(row);
    return i >= buf.rows.size() ? i - buf.rows.size() : i;
}

VtRow &buffer_row(VtBuffer &buf, int row)
{
    return buf.rows[ring_index(buf, row)];
}

VtRow &row_at(TarvikVt *vt, int row)
{
    return buffer_row(active(vt), row);
}

const VtRow &row_at(const TarvikVt *vt, int row)
{
    const VtBuffer &buf = active(vt);
    return buf.rows[ring_index(buf, row)];
}

// Puts screen row 0 first in the buffer again, for the moves that work on the lines in screen order.
void unroll(VtBuffer &buf)
{
    if (buf.top == 0) return;
    std::rotate(buf.rows.begin(), buf.rows.begin() + static_cast<long>(buf.top), buf.rows.end());
    buf.top = 0;
}

// The cell at a column of a line, written or not.
VtCell cell_of(const VtRow &r, int col)
{
    return static_cast<size_t>(col) < r.cells.size() ? r.cells[static_cast<size_t>(col)] : VtCell{0, r.fill};
}

// The line's cells up to column `n` (at most the screen's width), to be written to.
VtCell *reach(const TarvikVt *vt, VtRow &r, int n)
{
    auto want = static_cast<size_t>(n);
    if (r.cells.size() < want) {
        if (r.cells.capacity() < want)
            r.cells.reserve(std::min(static_cast<size_t>(vt->cols),
                                     std::max({want, 2 * r.cells.capacity(), kRowGrowth})));
        // Most often one more cell, for text written along the line.
        if (want == r.cells.size() + 1)
            r.cells.push_back(VtCell{0, r.fill});
        else
            r.cells.resize(want, VtCell{0, r.fill});
    }
    return r.cells.data();
}

// Leaves out the cells at the end that are what the line holds after them anyway.
void trim(VtRow &r)
{
    while (!r.cells.empty() && r.cells.back() == VtCell{0, r.fill}) r.cells.pop_back();
}

const VtStyle &style_of(const TarvikVt *vt, VtCell c)
{
    return vt->tables.styles[c.style];
}

bool is_cluster(VtCell c)
{
    return (c.ch & kClusterBit) && c.ch != kCoveredChar;
}

// The cell's character, or the first of its cluster, as libvterm gave it.
uint32_t base_char(const TarvikVt *vt, VtCell c)
{
    return is_cluster(c) ? vt->tables.clusters[c.ch & ~kClusterBit][0] : c.ch;
}

// Whether a cell at the end of a line can be left out of it: nothing written, or a blank that shows
// no colour or line.
bool shows_nothing(const TarvikVt *vt, VtCell c)
{
    const VtStyle &s = style_of(vt, c);
    uint32_t ch = base_char(vt, c);
    return (ch == 0 || ch == ' ' || (s.attrs & kCellConcealed)) && s.bg == kTarvikDefaultColor &&
           !(s.attrs & (kReverse | kUnderline | kStrike | kTarvikOverline));
}

uint32_t color_code(const VTermColor &c, bool fg)
{
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return kTarvikDefaultColor;
    if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
    return kTarvikRgbColor | static_cast<uint32_t>(c.rgb.red) << 16 |
           static_cast<uint32_t>(c.rgb.green) << 8 | c.rgb.blue;
}

// The pen's style numbers for glyphs and erases, looked up again only after a change.
void follow_pen(TarvikVt *vt)
{
    auto &p = vt->pen_styles;
    if (p.changes == p.pen_changes && p.extra == vt->filter.now.extra) return;
    const uint32_t fg = color_code(vt->pen.fg, true), bg = color_code(vt->pen.bg, false);
    p.erase = cell_tables_style(vt->tables, VtStyle{fg, bg, 0});
    p.glyph = cell_tables_style(vt->tables,
                                VtStyle{fg, bg, static_cast<uint16_t>(vt->pen.attrs | vt->filter.now.extra)});
    p.changes = p.pen_changes;
    p.extra = vt->filter.now.extra;
}

void pen_changed(TarvikVt *vt)
{
    ++vt->pen_styles.pen_changes;
}

// What an erased cell holds: nothing, in the colours of the pen that erased it.
VtCell erased(TarvikVt *vt)
{
    follow_pen(vt);
    return {0, vt->pen_styles.erase};
}

// A buffer of empty lines, each filled with the style.
void make_buffer(VtBuffer &buf, int rows, uint32_t fill)
{
    VtRow blank;
    blank.fill = fill;
    buf.rows.assign(static_cast<size_t>(rows), blank);
    buf.top = 0;
}

// A glyph written over half of a wide character leaves the other half with nothing to belong to.
void break_wide_at(TarvikVt *vt, int row, int col, VtCell with)
{
    VtRow &r = row_at(vt, row);
    // A covered cell was written, and so was the wide character left of it.
    if (col > 0 && cell_of(r, col).ch == kCoveredChar) r.cells[static_cast<size_t>(col - 1)] = with;
    if (col + 1 < vt->cols && cell_of(r, col + 1).ch == kCoveredChar)
        r.cells[static_cast<size_t>(col + 1)] = with;
}

int on_putglyph(VTermGlyphInfo *info, VTermPos pos, void *user)
{
    TarvikVt *vt = owner(user);
    if (pos.row < 0 || pos.row >= vt->rows || pos.col < 0 || pos.col >= vt->cols) return 1;
    int width = std::max(1, info->width);
    // A wide character never hangs over the right edge; libvterm wraps before it.
    if (pos.col + width > vt->cols) width = 1;
    VtRow &r = row_at(vt, pos.row);
    // A combining mark comes as the whole cell again, at the same place; its own cells stay as they are.
    uint32_t here = base_char(vt, cell_of(r, pos.col));
    bool same_place = here == info->chars[0] && here != 0 && here != kCoveredChar;
    if (!same_place) {
        VtCell with = erased(vt);
        break_wide_at(vt, pos.row, pos.col, with);
        if (width == 2) break_wide_at(vt, pos.row, pos.col + 1, with);
    }
    // A character at the start of a row says whether the row goes on from the one above.
    if (!same_place && pos.col == 0) r.wrapped = vt->wrap_row >= 0 && vt->wrap_row == pos.row - 1;
    vt->wrap_row = pos.col + width >= vt->cols ? pos.row : -1;
    VtCell *c = reach(vt, r, pos.col + width) + pos.col;
    bool marks = info->chars[0] && info->chars[1];
    c->ch = marks || (info->chars[0] & kClusterBit) ? cell_tables_cluster(vt->tables, info->chars)
                                                    : info->chars[0];
    follow_pen(vt);
    if (info->protected_cell) {
        VtStyle look{color_code(vt->pen.fg, true), color_code(vt->pen.bg, false),
                     static_cast<uint16_t>(vt->pen.attrs | vt->filter.now.extra | kCellProtected)};
        c->style = cell_tables_style(vt->tables, look);
    } else {
        c->style = vt->pen_styles.glyph;
    }
    if (width == 2) c[1] = {kCoveredChar, c->style};
    vt->glyph_row = pos.row;
    vt->glyph_col = pos.col;
    vt_damage(vt, pos.row, pos.row + 1);
    return 1;
}

int on_movecursor(VTermPos pos, VTermPos, int, void *user)
{
    TarvikVt *vt = owner(user);
    vt->version = ++g_versions;
    // Only waiting at the end of the row keeps a wrap to come; any other move means the line ended. A
    // wide character in the last two columns keeps libvterm's cursor on its left half while it waits.
    bool waiting = pos.col == vt->cols - 1 || (pos.row == vt->glyph_row && pos.col == vt->glyph_col);
    if (pos.row != vt->wrap_row || !waiting) vt->wrap_row = -1;
    return 1;
}

int on_erase(VTermRect rect, int selective, void *user)
{
    TarvikVt *vt = owner(user);
    int top = std::max(0, rect.start_row), bottom = std::min(vt->rows, rect.end_row);
    int left = std::max(0, rect.start_col), right = std::min(vt->cols, rect.end_col);
    if (top >= bottom || left >= right) return 1;
    VtCell with = erased(vt);
    for (int row = top; row < bottom; ++row) {
        VtRow &r = row_at(vt, row);
        if (!selective && right == vt->cols) {
            // To the end of the line, as most erases are: the line ends where the erase begins.
            if (r.cells.size() > static_cast<size_t>(left))
                r.cells.resize(static_cast<size_t>(left));
            else if (r.fill != with.style)
                reach(vt, r, left);
            r.fill = with.style;
        } else {
            VtCell *l = reach(vt, r, right);
            for (int col = left; col < right; ++col)
                if (!selective || !(style_of(vt, l[col]).attrs & kCellProtected)) l[col] = with;
        }
        trim(r);
        if (left == 0 && !selective) r.wrapped = false;
    }
    vt_damage(vt, top, bottom);
    return 1;
}

int on_moverect(VTermRect dest, VTermRect src, void *user)
{
    TarvikVt *vt = owner(user);
    int rows = src.end_row - src.start_row, cols = src.end_col - src.start_col;
    if (rows <= 0 || cols <= 0 || src.start_row < 0 || dest.start_row < 0 || src.start_col < 0 ||
        dest.start_col < 0 || src.end_row > vt->rows || dest.start_row + rows > vt->rows ||
        src.end_col > vt->cols || dest.start_col + cols > vt->cols)
        return 1;
    // Kept between calls: inserting and deleting characters comes through here.
    static std::vector<VtCell> moved;
    moved.resize(static_cast<size_t>(cols));
    // Rows in the order that reads each before it is overwritten.
    bool upward = dest.start_row <= src.start_row;
    for (int i = 0; i < rows; ++i) {
        int k = upward ? i : rows - 1 - i;
        const VtRow &from = row_at(vt, src.start_row + k);
        for (int col = 0; col < cols; ++col)
            moved[static_cast<size_t>(col)] = cell_of(from, src.start_col + col);
        VtRow &to = row_at(vt, dest.start_row + k);
        std::copy(moved.begin(), moved.end(), reach(vt, to, dest.start_col + cols) + dest.start_col);
        trim(to);
    }
    vt_damage(vt, dest.start_row, dest.start_row + rows);
    return 1;
}

// Number of cells of a row of the active screen up to the last that shows anything.
int used_width(const TarvikVt *vt, int row)
{
    const VtRow &r = row_at(vt, row);
    auto n = static_cast<int>(std::min(r.cells.size(), static_cast<size_t>(vt->cols)));
    if (n < vt->cols && !shows_nothing(vt, VtCell{0, r.fill})) return vt->cols;
    while (n > 0 && shows_nothing(vt, r.cells[static_cast<size_t>(n - 1)])) --n;
    return n;
}

// libvterm decodes the obsolete 5- and 6-byte UTF-8 forms and encoded UTF-16 halves into values that
// are no character, which curses and the summary cannot show; they read as U+FFFD, like the other
// malformed input that libvterm replaces itself.
uint32_t valid_char(uint32_t ch)
{
    return ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) ? 0xFFFD : ch;
}

// The characters of a cell as libvterm gave them, 0 after the last.
void chars_of(const TarvikVt *vt, VtCell c, uint32_t (&chars)[VTERM_MAX_CHARS_PER_CELL])
{
    if (is_cluster(c)) {
        const auto &cluster = vt->tables.clusters[c.ch & ~kClusterBit];
        std::copy(cluster.begin(), cluster.end(), chars);
        return;
    }
    std::fill(std::begin(chars), std::end(chars), 0u);
    chars[0] = c.ch;
}

// The row's cells up to the last that shows anything, read as vt_get_cell reads them; returns their
// number. Every line feed at the bottom of the screen comes through here, so the cells are converted
// directly rather than through libvterm's larger cell.
int line_cells(const TarvikVt *vt, int row, TarvikLineCell *out)
{
    int n = used_width(vt, row);
    const VtRow &r = row_at(vt, row);
    uint16_t flip = vt->reverse_video ? kReverse : 0;
    for (int col = 0; col < n; ++col) {
        VtCell c = cell_of(r, col);
        const VtStyle &look = style_of(vt, c);
        TarvikLineCell &o = out[col];
        std::memset(o.chars, 0, sizeof o.chars);
        bool covers_next = col + 1 < vt->cols && cell_of(r, col + 1).ch == kCoveredChar;
        if (c.ch < 0xD800 && !covers_next) {
            // One narrow character, or none: most cells.
            o.width = 1;
            o.chars[0] = c.ch && !(look.attrs & kCellConcealed) ? c.ch : ' ';
        } else if (c.ch == kCoveredChar) {
            // A covered cell whose wide character is gone is a blank.
            bool orphan = col == 0 || cell_of(r, col - 1).ch == kCoveredChar;
            o.width = orphan ? 1 : 0;
            o.chars[0] = orphan ? ' ' : 0;
        } else {
            o.width = covers_next ? 2 : 1;
            // Concealed text shows as blanks, here and wherever the screen is read.
            if (!(look.attrs & kCellConcealed)) {
                uint32_t chars[VTERM_MAX_CHARS_PER_CELL];
                chars_of(vt, c, chars);
                for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && chars[i]; ++i)
                    o.chars[i] = valid_char(chars[i]);
            }
            if (o.chars[0] == 0) o.chars[0] = ' ';
        }
        o.style.fg = look.fg;
        o.style.bg = look.bg;
        o.style.attrs = static_cast<uint16_t>((look.attrs & ~(kCellProtected | kCellConcealed)) ^ flip);
    }
    return n;
}

// Hands the top rows of the main screen to the scrollback before a scroll moves them out.
void push_scrollback(TarvikVt *vt, int count)
{
    // Kept between calls: every line feed at the bottom of the screen comes through here.
    static std::vector<TarvikLineCell> cells;
    cells.resize(static_cast<size_t>(vt->cols));
    for (int row = 0; row < count; ++row) {
        int n = line_cells(vt, row, cells.data());
        vt->scrollback(cells.data(), n, buffer_row(vt->primary, row).wrapped, vt->scrollback_user);
    }
}

int on_scrollrect(VTermRect rect, int downward, int rightward, void *user)
{
    TarvikVt *vt = owner(user);
    int top = rect.start_row, bottom = rect.end_row, height = bottom - top;
    // Anything but whole lines moving up or down is done cell by cell, by libvterm through moverect and
    // erase; it is rare (insert and delete of characters, left and right margins).
    if (rightward != 0 || rect.start_col != 0 || rect.end_col != vt->cols || top < 0 || bottom > vt->rows ||
        height <= 0)
        return 0;
    int n = std::clamp(downward, -height, height);
    // Lines leave the screen only through its top edge, and those of a full-screen program on the
    // alternate screen are not the user's history.
    if (top == 0 && n > 0 && !vt->alt_active && vt->scrollback) push_scrollback(vt, n);
    VtBuffer &buf = active(vt);
    std::vector<VtRow> &rows = buf.rows;
    const size_t size = rows.size();
    if (top == 0 && bottom == vt->rows) {
        // The whole screen, as every line feed at its bottom: the ring turns.
        buf.top = n > 0 ? (buf.top + static_cast<size_t>(n)) % size
                        : (buf.top + size - static_cast<size_t>(-n) % size) % size;
    } else {
        unroll(buf);
        if (n > 0)
            std::rotate(rows.begin() + top, rows.begin() + top + n, rows.begin() + bottom);
        else if (n < 0)
            std::rotate(rows.begin() + top, rows.begin() + bottom + n, rows.begin() + bottom);
    }
    // The lines that moved in are new and blank; they keep the room their cells had.
    int from = n > 0 ? bottom - n : top, to = n > 0 ? bottom : top - n;
    const VtCell with = erased(vt);
    for (int row = from; row < to; ++row) {
        VtRow &r = buffer_row(buf, row);
        r.cells.clear();
        r.fill = with.style;
        r.wrapped = false;
    }
    // The row waiting to wrap moved with the others, or left.
    if (vt->wrap_row >= top && vt->wrap_row < bottom) {
        vt->wrap_row -= n;
        if (vt->wrap_row < top || vt->wrap_row >= bottom) vt->wrap_row = -1;
    }
    vt_damage(vt, top, bottom);
    return 1;
}

int on_initpen(void *user)
{
    TarvikVt *vt = owner(user);
    vt->pen.attrs = 0;
    vterm_state_get_default_colors(vt->state, &vt->pen.fg, &vt->pen.bg);
    pen_changed(vt);
    return 1;
}

int on_setpenattr(VTermAttr attr, VTermValue *val, void *user)
{
    pen_changed(owner(user));
    VtPen &pen = owner(user)->pen;
    auto flag = [&](uint16_t bit, bool on) {
        pen.attrs = static_cast<uint16_t>(on ? pen.attrs | bit : pen.attrs & ~bit);
    };
    switch (attr) {
    case VTERM_ATTR_BOLD: flag(kBold, val->boolean); break;
    case VTERM_ATTR_UNDERLINE:
        // Curly and other underlines are single ones here.
        flag(kUnderline, val->number != VTERM_UNDERLINE_OFF);
        flag(kDoubleUnderline, val->number == VTERM_UNDERLINE_DOUBLE);
        break;
    case VTERM_ATTR_ITALIC: flag(kItalic, val->boolean); break;
    case VTERM_ATTR_BLINK: flag(kBlink, val->boolean); break;
    case VTERM_ATTR_REVERSE: flag(kReverse, val->boolean); break;
    case VTERM_ATTR_STRIKE: flag(kStrike, val->boolean); break;
    case VTERM_ATTR_FOREGROUND: pen.fg = val->color; break;
    case VTERM_ATTR_BACKGROUND: pen.bg = val->color; break;
    default: break;
    }
    return 1;
}

int on_settermprop(VTermProp prop, VTermValue *val, void *user)
{
    TarvikVt *vt = owner(user);
    switch (prop) {
    case VTERM_PROP_CURSORVISIBLE:
        vt->cursor_visible = val->boolean != 0;
        vt->version = ++g_versions;
        break;
    case VTERM_PROP_ALTSCREEN:
        // Full-screen programs draw here and leave the shell's lines as they were. libvterm erases it
        // whenever a program enters it, so what a program leaves there is never shown again: its lines
        // exist only while one uses it.
        if (val->boolean && vt->alt.rows.empty()) make_buffer(vt->alt, vt->rows, erased(vt).style);
        if (val->boolean && !vt->alt_active) vt->primary_cursor_row = tarvik_vt_cursor_row(vt);
        vt->alt_active = val->boolean != 0;
        if (!vt->alt_active) vt->alt = VtBuffer{};
        vt_damage(vt, 0, vt->rows);
        break;
    case VTERM_PROP_REVERSE:
        vt->reverse_video = val->boolean != 0;
        vt_damage(vt, 0, vt->rows);
        break;
    default: break;
    }
    return 1;
}

int on_setlineinfo(int row, const VTermLineInfo *now, const VTermLineInfo *before, void *user)
{
    TarvikVt *vt = owner(user);
    // A double-width line shows only its left half; what stood in the right half is gone.
    if (now->doublewidth && !before->doublewidth) {
        VTermRect right{row, row + 1, vt->cols / 2, vt->cols};
        on_erase(right, 0, user);
    }
    vt_damage(vt, row, row + 1);
    return 1;
}

// Moves `count` lines of one screen off its top, the way a line feed at the bottom does, so that
// lines leave a screen through the one path a scroll takes.
void push_off_top(TarvikVt *vt, bool alternate, int count)
{
    bool was = vt->alt_active;
    vt->alt_active = alternate;
    on_scrollrect(VTermRect{0, vt->rows, 0, vt->cols}, count, 0, vt);
    vt->alt_active = was;
}

// Gives the buffer the new size, keeping its top-left part; lines are cut or padded, never reflowed.
// What a resize adds or uncovers holds nothing, in the default colours.
void resize_buffer(TarvikVt *vt, VtBuffer &buf, int rows, int cols)
{
    const VtCell blank{0, 0};
    unroll(buf);
    buf.rows.resize(static_cast<size_t>(rows));
    for (VtRow &r : buf.rows) {
        if (cols < vt->cols) {
            // A wide character whose right half the new edge cuts off goes whole.
            if (cell_of(r, cols).ch == kCoveredChar && cell_of(r, cols - 1).ch != kCoveredChar)
                r.cells[static_cast<size_t>(cols - 1)] = blank;
            if (r.cells.size() > static_cast<size_t>(cols)) r.cells.resize(static_cast<size_t>(cols));
        } else if (cols > vt->cols && r.fill != blank.style) {
            reach(vt, r, vt->cols);
            r.fill = blank.style;
        }
        trim(r);
    }
}

// A terminal that gets fewer rows keeps the cursor's line: the lines above it go off the top. libvterm
// moves its cursor by `delta` afterwards, and writes outside its own tables unless the cursor stays
// inside the new size.
int on_resize(int rows, int cols, VTermPos *delta, void *user)
{
    TarvikVt *vt = owner(user);
    VTermPos cursor;
    vterm_state_get_cursorpos(vt->state, &cursor);
    int drop = std::max(0, cursor.row - (rows - 1));
    if (vt->alt_active) {
        // The main screen's cursor comes back when the full-screen program leaves; its line stays too.
        int primary_drop = std::max(0, vt->primary_cursor_row - (rows - 1));
        if (primary_drop > 0) push_off_top(vt, false, primary_drop);
        vt->primary_cursor_row -= primary_drop;
        if (drop > 0) push_off_top(vt, true, drop);
    } else if (drop > 0) {
        push_off_top(vt, false, drop);
    }
    resize_buffer(vt, vt->primary, rows, cols);
    if (!vt->alt.rows.empty()) resize_buffer(vt, vt->alt, rows, cols);
    vt->rows = rows;
    vt->cols = cols;
    delta->row = -drop;
    delta->col = 0;
    vt->wrap_row = -1;
    vt->damage_top = vt->damage_bottom = 0;
    vt_damage(vt, 0, rows);
    return 1;
}

// A colour of a look as libvterm has it; the default ones are the state's.
VTermColor vterm_color(const TarvikVt *vt, uint32_t code, bool fg)
{
    VTermColor c, default_fg, default_bg;
    if (code == kTarvikDefaultColor) {
        vterm_state_get_default_colors(vt->state, &default_fg, &default_bg);
        return fg ? default_fg : default_bg;
    }
    if (code & kTarvikRgbColor)
        vterm_color_rgb(&c, static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 8),
                        static_cast<uint8_t>(code));
    else
        vterm_color_indexed(&c, static_cast<uint8_t>(code));
    return c;
}

const VTermStateCallbacks *state_callbacks()
{
    static const VTermStateCallbacks callbacks = [] {
        VTermStateCallbacks cb{};
        cb.putglyph = on_putglyph;
        cb.movecursor = on_movecursor;
        cb.scrollrect = on_scrollrect;
        cb.moverect = on_moverect;
        cb.erase = on_erase;
        cb.initpen = on_initpen;
        cb.setpenattr = on_setpenattr;
        cb.settermprop = on_settermprop;
        cb.setlineinfo = on_setlineinfo;
        cb.resize = on_resize;
        return cb;
    }();
    return &callbacks;
}

} // namespace

void vt_cells_init(TarvikVt *vt)
{
    cell_tables_init(vt->tables);
    pen_changed(vt);
    vterm_state_get_default_colors(vt->state, &vt->pen.fg, &vt->pen.bg);
    vt->pen.attrs = 0;
    make_buffer(vt->primary, vt->rows, 0);
    vterm_state_set_callbacks(vt->state, state_callbacks(), vt);
}

void vt_damage(TarvikVt *vt, int top, int bottom)
{
    vt->version = ++g_versions;
    if (vt->damage_top >= vt->damage_bottom) {
        vt->damage_top = top;
        vt->damage_bottom = bottom;
    } else {
        vt->damage_top = std::min(vt->damage_top, top);
        vt->damage_bottom = std::max(vt->damage_bottom, bottom);
    }
}

void vt_cells_collect(TarvikVt *vt)
{
    cell_tables_collect(vt->tables, vt->primary, vt->alt);
    pen_changed(vt); // the styles may have new numbers
}

bool vt_get_cell(const TarvikVt *vt, int row, int col, VTermScreenCell &cell)
{
    if (row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return false;
    const VtRow &r = row_at(vt, row);
    VtCell c = cell_of(r, col);
    const VtStyle &look = style_of(vt, c);
    cell = VTermScreenCell{};
    cell.fg = vterm_color(vt, look.fg, true);
    cell.bg = vterm_color(vt, look.bg, false);
    cell.attrs.bold = (look.attrs & kBold) != 0;
    cell.attrs.underline = look.attrs & kDoubleUnderline ? VTERM_UNDERLINE_DOUBLE
                           : look.attrs & kUnderline     ? VTERM_UNDERLINE_SINGLE
                                                         : VTERM_UNDERLINE_OFF;
    cell.attrs.italic = (look.attrs & kItalic) != 0;
    cell.attrs.blink = (look.attrs & kBlink) != 0;
    cell.attrs.reverse = ((look.attrs & kReverse) != 0) != vt->reverse_video;
    cell.attrs.strike = (look.attrs & kStrike) != 0;
    cell.width = col + 1 < vt->cols && cell_of(r, col + 1).ch == kCoveredChar ? 2 : 1;
    if (c.ch == kCoveredChar) {
        // A covered cell with no wide character to its left (a move or erase can split the pair) is a
        // blank.
        bool orphan = col == 0 || cell_of(r, col - 1).ch == kCoveredChar;
        cell.chars[0] = orphan ? ' ' : kCoveredChar;
        return true;
    }
    if (look.attrs & kCellConcealed) {
        cell.chars[0] = ' ';
        return true;
    }
    uint32_t chars[VTERM_MAX_CHARS_PER_CELL];
    chars_of(vt, c, chars);
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && chars[i]; ++i) cell.chars[i] = valid_char(chars[i]);
    return true;
}

void vt_cell_chars(const TarvikVt *vt, int row, int col, uint32_t (&chars)[VTERM_MAX_CHARS_PER_CELL])
{
    std::fill(std::begin(chars), std::end(chars), 0u);
    if (row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return;
    chars_of(vt, cell_of(row_at(vt, row), col), chars);
}

VtStyle vt_cell_style(const TarvikVt *vt, int row, int col)
{
    if (row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return VtStyle{};
    return style_of(vt, cell_of(row_at(vt, row), col));
}

TarvikCell tarvik_vt_cell(const TarvikVt *vt, int row, int col)
{
    if (!vt || row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return {32, 1};
    const VtRow &r = row_at(vt, row);
    VtCell c = cell_of(r, col);
    int width = col + 1 < vt->cols && cell_of(r, col + 1).ch == kCoveredChar ? 2 : 1;
    // The cell to the right of a wide character is covered, not a character; one whose wide character
    // is gone is a blank.
    if (c.ch == kCoveredChar) return {32, col == 0 || cell_of(r, col - 1).ch == kCoveredChar ? width : 0};
    if (style_of(vt, c).attrs & kCellConcealed) return {32, width};
    uint32_t ch = valid_char(base_char(vt, c));
    return {ch == 0 ? 32 : ch, width};
}

void tarvik_vt_set_scrollback(TarvikVt *vt, TarvikScrollbackPush push, void *user)
{
    if (!vt) return;
    vt->scrollback = push;
    vt->scrollback_user = user;
}

bool tarvik_vt_row_wrapped(const TarvikVt *vt, int row)
{
    if (!vt || row < 0 || row >= vt->rows) return false;
    return row_at(vt, row).wrapped;
}

int tarvik_vt_line(const TarvikVt *vt, int row, TarvikLineCell *cells)
{
    if (!vt || row < 0 || row >= vt->rows) return 0;
    return line_cells(vt, row, cells);
}
