// The cells of an emulated screen, kept by the program itself from what libvterm's state layer reports.
//
// libvterm's own screen layer moves every cell of the screen in memory for each line that scrolls,
// which made a machine printing fast cost several times what a terminal multiplexer spends. Here a
// screen is a block of cells plus a table of which row of the block shows on which line, so a scroll
// moves a few row numbers and blanks the new lines.
#include <algorithm>
#include <cstring>

#include "term/vt_internal.h"

namespace {

constexpr uint16_t kBold = kTarvikBold, kUnderline = kTarvikUnderline, kItalic = kTarvikItalic,
                   kBlink = kTarvikBlink, kReverse = kTarvikReverse, kStrike = kTarvikStrike,
                   kDoubleUnderline = kTarvikDoubleUnderline;
static_assert(kTarvikMaxChars == VTERM_MAX_CHARS_PER_CELL);

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

VtCell *line(TarvikVt *vt, int row)
{
    return active(vt).line(row, vt->cols);
}

// Whether a cell at the end of a line can be left out of it: nothing written, or a blank that shows
// no colour or line.
bool shows_nothing(const VtCell &c)
{
    return (c.chars[0] == 0 || c.chars[0] == ' ' || (c.attrs & kCellConcealed)) &&
           VTERM_COLOR_IS_DEFAULT_BG(&c.bg) &&
           !(c.attrs & (kReverse | kUnderline | kStrike | kTarvikOverline));
}

// Notes that cells of the row left of column `right` may show something.
void widen(TarvikVt *vt, int row, int right)
{
    VtBuffer &buf = active(vt);
    uint32_t &e = buf.extent[buf.rows[static_cast<size_t>(row)]];
    if (right > static_cast<int>(e)) e = static_cast<uint32_t>(std::min(right, vt->cols));
}

VtCell *cell_at(TarvikVt *vt, int row, int col)
{
    if (row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return nullptr;
    return line(vt, row) + col;
}

// What an erased cell holds: nothing, in the colours of the pen that erased it.
VtCell erased(const TarvikVt *vt)
{
    VtCell c{};
    c.fg = vt->pen.fg;
    c.bg = vt->pen.bg;
    return c;
}

// A glyph written over half of a wide character leaves the other half with nothing to belong to.
void break_wide_at(TarvikVt *vt, int row, int col, const VtCell &with)
{
    VtCell *c = cell_at(vt, row, col);
    if (!c) return;
    if (c->chars[0] == kCoveredChar) {
        if (VtCell *left = cell_at(vt, row, col - 1)) *left = with;
    }
    VtCell *right = cell_at(vt, row, col + 1);
    if (right && right->chars[0] == kCoveredChar) *right = with;
}

int on_putglyph(VTermGlyphInfo *info, VTermPos pos, void *user)
{
    TarvikVt *vt = owner(user);
    VtCell *c = cell_at(vt, pos.row, pos.col);
    if (!c) return 1;
    int width = std::max(1, info->width);
    // A wide character never hangs over the right edge; libvterm wraps before it.
    if (pos.col + width > vt->cols) width = 1;
    VtCell with = erased(vt);
    // A combining mark comes as the whole cell again, at the same place; its own cells stay as they are.
    bool same_place = c->chars[0] == info->chars[0] && c->chars[0] != 0 && c->chars[0] != kCoveredChar;
    if (!same_place) {
        break_wide_at(vt, pos.row, pos.col, with);
        if (width == 2) break_wide_at(vt, pos.row, pos.col + 1, with);
    }
    // A character at the start of a row says whether the row goes on from the one above.
    if (!same_place && pos.col == 0) {
        VtBuffer &buf = active(vt);
        buf.wrapped[buf.rows[static_cast<size_t>(pos.row)]] =
            vt->wrap_row >= 0 && vt->wrap_row == pos.row - 1;
    }
    vt->wrap_row = pos.col + width >= vt->cols ? pos.row : -1;
    int i = 0;
    for (; i < VTERM_MAX_CHARS_PER_CELL && info->chars[i]; ++i) c->chars[i] = info->chars[i];
    for (; i < VTERM_MAX_CHARS_PER_CELL; ++i) c->chars[i] = 0;
    c->fg = vt->pen.fg;
    c->bg = vt->pen.bg;
    c->attrs = static_cast<uint16_t>(vt->pen.attrs | vt->filter.now.extra |
                                     (info->protected_cell ? kCellProtected : 0));
    if (width == 2) {
        VtCell &covered = c[1];
        covered = *c;
        std::memset(covered.chars, 0, sizeof covered.chars);
        covered.chars[0] = kCoveredChar;
    }
    vt->glyph_row = pos.row;
    vt->glyph_col = pos.col;
    // One more for the blanked half of a wide character broken on the right.
    widen(vt, pos.row, pos.col + width + 1);
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
        VtCell *l = line(vt, row);
        for (int col = left; col < right; ++col)
            if (!selective || !(l[col].attrs & kCellProtected)) l[col] = with;
        if (left == 0 && !selective) active(vt).wrapped[active(vt).rows[static_cast<size_t>(row)]] = 0;
        if (!shows_nothing(with)) widen(vt, row, right);
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
    // Rows in the order that reads each before it is overwritten.
    bool upward = dest.start_row <= src.start_row;
    for (int i = 0; i < rows; ++i) {
        int k = upward ? i : rows - 1 - i;
        VtCell *from = line(vt, src.start_row + k) + src.start_col;
        VtCell *to = line(vt, dest.start_row + k) + dest.start_col;
        std::memmove(static_cast<void *>(to), from, sizeof(VtCell) * static_cast<size_t>(cols));
        widen(vt, dest.start_row + k, dest.start_col + cols);
    }
    vt_damage(vt, dest.start_row, dest.start_row + rows);
    return 1;
}

// Number of cells of a row of the active screen up to the last that shows anything.
int used_width(const TarvikVt *vt, int row)
{
    const VtBuffer &buf = vt->alt_active ? vt->alt : vt->primary;
    const VtCell *l = buf.line(row, vt->cols);
    int n = std::min<int>(vt->cols, buf.extent[buf.rows[static_cast<size_t>(row)]]);
    while (n > 0 && shows_nothing(l[n - 1])) --n;
    return n;
}

uint32_t color_code(const VTermColor &c, bool fg)
{
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return kTarvikDefaultColor;
    if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
    return kTarvikRgbColor | static_cast<uint32_t>(c.rgb.red) << 16 |
           static_cast<uint32_t>(c.rgb.green) << 8 | c.rgb.blue;
}

// libvterm decodes the obsolete 5- and 6-byte UTF-8 forms and encoded UTF-16 halves into values that
// are no character, which curses and the summary cannot show; they read as U+FFFD, like the other
// malformed input that libvterm replaces itself.
uint32_t valid_char(uint32_t ch)
{
    return ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) ? 0xFFFD : ch;
}

// The row's cells up to the last that shows anything, read as vt_get_cell reads them; returns their
// number. Every line feed at the bottom of the screen comes through here, so the cells are converted
// directly rather than through libvterm's larger cell.
int line_cells(const TarvikVt *vt, int row, TarvikLineCell *out)
{
    int n = used_width(vt, row);
    const VtCell *l = (vt->alt_active ? vt->alt : vt->primary).line(row, vt->cols);
    uint16_t flip = vt->reverse_video ? kReverse : 0;
    for (int col = 0; col < n; ++col) {
        const VtCell &c = l[col];
        TarvikLineCell &o = out[col];
        std::memset(o.chars, 0, sizeof o.chars);
        bool covers_next = col + 1 < vt->cols && l[col + 1].chars[0] == kCoveredChar;
        if (c.chars[1] == 0 && c.chars[0] < 0xD800 && !covers_next) {
            // One narrow character, or none: most cells.
            o.width = 1;
            o.chars[0] = c.chars[0] && !(c.attrs & kCellConcealed) ? c.chars[0] : ' ';
        } else if (c.chars[0] == kCoveredChar) {
            // A covered cell whose wide character is gone is a blank.
            bool orphan = col == 0 || l[col - 1].chars[0] == kCoveredChar;
            o.width = orphan ? 1 : 0;
            o.chars[0] = orphan ? ' ' : 0;
        } else {
            o.width = covers_next ? 2 : 1;
            // Concealed text shows as blanks, here and wherever the screen is read.
            for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] && !(c.attrs & kCellConcealed); ++i)
                o.chars[i] = valid_char(c.chars[i]);
            if (o.chars[0] == 0) o.chars[0] = ' ';
        }
        o.style.fg = color_code(c.fg, true);
        o.style.bg = color_code(c.bg, false);
        o.style.attrs = static_cast<uint16_t>((c.attrs & ~(kCellProtected | kCellConcealed)) ^ flip);
    }
    return n;
}

// Hands the top rows of the main screen to the scrollback before a scroll moves them out.
void push_scrollback(TarvikVt *vt, int count)
{
    // Kept between calls: every line feed at the bottom of the screen comes through here.
    static std::vector<TarvikLineCell> cells;
    cells.resize(static_cast<size_t>(vt->cols));
    const VtBuffer &buf = vt->primary;
    for (int row = 0; row < count; ++row) {
        int n = line_cells(vt, row, cells.data());
        vt->scrollback(cells.data(), n, buf.wrapped[buf.rows[static_cast<size_t>(row)]] != 0,
                       vt->scrollback_user);
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
    std::vector<uint32_t> &rows = active(vt).rows;
    if (n > 0)
        std::rotate(rows.begin() + top, rows.begin() + top + n, rows.begin() + bottom);
    else if (n < 0)
        std::rotate(rows.begin() + top, rows.begin() + bottom + n, rows.begin() + bottom);
    // The lines that moved in are new and blank.
    int from = n > 0 ? bottom - n : top, to = n > 0 ? bottom : top - n;
    const VtCell with = erased(vt);
    const auto extent = static_cast<uint32_t>(shows_nothing(with) ? 0 : vt->cols);
    VtBuffer &buf = active(vt);
    for (int row = from; row < to; ++row) {
        std::fill_n(line(vt, row), vt->cols, with);
        buf.extent[buf.rows[static_cast<size_t>(row)]] = extent;
        buf.wrapped[buf.rows[static_cast<size_t>(row)]] = 0;
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
    return 1;
}

int on_setpenattr(VTermAttr attr, VTermValue *val, void *user)
{
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
        // Full-screen programs draw here and leave the shell's lines as they were. Most machines never
        // use it, so its cells are made the first time.
        if (val->boolean && vt->alt.cells.empty()) vt_buffer_init(vt->alt, vt->rows, vt->cols, erased(vt));
        if (val->boolean && !vt->alt_active) vt->primary_cursor_row = tarvik_vt_cursor_row(vt);
        vt->alt_active = val->boolean != 0;
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

// What the cells of a line that a resize adds or uncovers hold: nothing, in the default colours.
VtCell blank_cell(const TarvikVt *vt)
{
    VtCell blank{};
    vterm_state_get_default_colors(vt->state, &blank.fg, &blank.bg);
    return blank;
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
void resize_buffer(VtBuffer &buf, int old_rows, int old_cols, int rows, int cols, const VtCell &blank)
{
    VtBuffer out;
    vt_buffer_init(out, rows, cols, blank);
    int keep = std::min(old_cols, cols);
    for (int row = 0; row < std::min(old_rows, rows); ++row) {
        const VtCell *from = buf.line(row, old_cols);
        VtCell *to = out.line(row, cols);
        std::copy_n(from, keep, to);
        out.wrapped[static_cast<size_t>(row)] = buf.wrapped[buf.rows[static_cast<size_t>(row)]];
        // A wide character whose right half the new edge cuts off goes whole.
        if (cols < old_cols && from[cols].chars[0] == kCoveredChar && from[cols - 1].chars[0] != kCoveredChar)
            to[cols - 1] = blank;
    }
    buf = std::move(out);
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
    } else {
        if (drop > 0) push_off_top(vt, false, drop);
        // A program entering the alternate screen erases it first: it is made again at the new size.
        vt->alt = VtBuffer{};
    }
    VtCell blank = blank_cell(vt);
    resize_buffer(vt->primary, vt->rows, vt->cols, rows, cols, blank);
    if (!vt->alt.cells.empty()) resize_buffer(vt->alt, vt->rows, vt->cols, rows, cols, blank);
    vt->rows = rows;
    vt->cols = cols;
    delta->row = -drop;
    delta->col = 0;
    vt->wrap_row = -1;
    vt->damage_top = vt->damage_bottom = 0;
    vt_damage(vt, 0, rows);
    return 1;
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

void vt_buffer_init(VtBuffer &buf, int rows, int cols, const VtCell &with)
{
    buf.cells.assign(static_cast<size_t>(rows) * static_cast<size_t>(cols), with);
    buf.rows.resize(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) buf.rows[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
    buf.extent.assign(static_cast<size_t>(rows), static_cast<uint32_t>(cols));
    buf.wrapped.assign(static_cast<size_t>(rows), 0);
}

void vt_cells_init(TarvikVt *vt)
{
    VtCell blank = blank_cell(vt);
    vt->pen = {blank.fg, blank.bg, 0};
    vt_buffer_init(vt->primary, vt->rows, vt->cols, blank);
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

bool vt_get_cell(const TarvikVt *vt, int row, int col, VTermScreenCell &cell)
{
    if (row < 0 || row >= vt->rows || col < 0 || col >= vt->cols) return false;
    const VtBuffer &buf = vt->alt_active ? vt->alt : vt->primary;
    const VtCell *l = buf.line(row, vt->cols);
    const VtCell &c = l[col];
    cell = VTermScreenCell{};
    cell.fg = c.fg;
    cell.bg = c.bg;
    cell.attrs.bold = (c.attrs & kBold) != 0;
    cell.attrs.underline = c.attrs & kDoubleUnderline ? VTERM_UNDERLINE_DOUBLE
                           : c.attrs & kUnderline     ? VTERM_UNDERLINE_SINGLE
                                                      : VTERM_UNDERLINE_OFF;
    cell.attrs.italic = (c.attrs & kItalic) != 0;
    cell.attrs.blink = (c.attrs & kBlink) != 0;
    cell.attrs.reverse = ((c.attrs & kReverse) != 0) != vt->reverse_video;
    cell.attrs.strike = (c.attrs & kStrike) != 0;
    cell.width = col + 1 < vt->cols && l[col + 1].chars[0] == kCoveredChar ? 2 : 1;
    if (c.chars[0] == kCoveredChar) {
        // A covered cell with no wide character to its left (a move or erase can split the pair) is a
        // blank.
        if (col == 0 || l[col - 1].chars[0] == kCoveredChar) {
            cell.chars[0] = ' ';
        } else {
            cell.chars[0] = kCoveredChar;
        }
        return true;
    }
    if (c.attrs & kCellConcealed) {
        cell.chars[0] = ' ';
        return true;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i]; ++i) cell.chars[i] = valid_char(c.chars[i]);
    return true;
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
    const VtBuffer &buf = vt->alt_active ? vt->alt : vt->primary;
    return buf.wrapped[buf.rows[static_cast<size_t>(row)]] != 0;
}

int tarvik_vt_line(const TarvikVt *vt, int row, TarvikLineCell *cells)
{
    if (!vt || row < 0 || row >= vt->rows) return 0;
    return line_cells(vt, row, cells);
}
