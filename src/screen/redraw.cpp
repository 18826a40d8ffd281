// Painting the panels: machine list, summary column, selected terminal and the mode indicator.
#include "screen/redraw.h"

#include <wchar.h>

#include <cstring>
#include <string>
#include <vector>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"

namespace {

constexpr uint32_t kCovered = 0xFFFFFFFFu; // right half of a wide character in a summary line

// Attribute byte of a list row: colour by tag and life, red background when selected.
int list_row_attribute(const Machine &m, bool selected)
{
    int attr;
    if (m.tagged == 1)
        attr = m.alive ? kAttrRowTagged : kAttrRowTaggedDead;
    else
        attr = m.alive ? kAttrRowAlive : kAttrRowDead;
    return selected ? attr | kAttrRowSelected : attr;
}

void put_char(WINDOW *win, wchar_t wc)
{
    // Most of what the list and summary show is ASCII, and the plain call is several times cheaper;
    // both draw the character in the window's current attributes.
    if (wc >= 0x20 && wc < 0x7F) {
        waddch(win, static_cast<chtype>(wc));
        return;
    }
    wchar_t text[2] = {wc, 0};
    cchar_t cc;
    attr_t attrs;
    short pair;
    wattr_get(win, &attrs, &pair, nullptr);
    setcchar(&cc, text, attrs, pair, nullptr);
    wadd_wch(win, &cc);
}

// Writes the name into exactly `width` columns: cut at a character that would not fit, padded with
// blanks. Bytes that are not valid in the user's locale show as "?", one column each.
void put_name(WINDOW *win, const std::string &name, int width)
{
    int used = 0;
    mbstate_t state{};
    const char *p = name.data();
    size_t left = name.size();
    while (left > 0 && used < width) {
        wchar_t wc;
        size_t n = mbrtowc(&wc, p, left, &state);
        int w;
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            state = mbstate_t{};
            wc = L'?';
            n = 1;
            w = 1;
        } else {
            if (n == 0) n = 1; // an embedded zero byte
            // A format character could reorder the row on the user's terminal: it is left out.
            w = tarvik_char_is_format(static_cast<uint32_t>(wc)) ? 0 : wcwidth(wc);
            if (w < 0) {
                wc = L'?';
                w = 1;
            }
        }
        if (used + w > width) break;
        if (w > 0) put_char(win, wc);
        used += w;
        p += n;
        left -= n;
    }
    for (; used < width; ++used) waddch(win, ' ');
}

// The code point a summary position shows: blanks for control and format characters.
uint32_t summary_char(TarvikCell cell)
{
    if (cell.width == 0) return kCovered;
    if (cell.ch < 33 || cell.ch == 127 || tarvik_char_is_format(cell.ch)) return ' ';
    return cell.ch;
}

// Only a real blank is dropped at the end of a row; the right half of a wide character is text.
bool is_blank(TarvikCell cell) { return cell.ch == 32 && cell.width == 1; }

// Reads the terminal backwards from its cursor into line[0 .. len-1], right to left. Row 0 of the
// terminal is never read: it yields blanks like the rows above it.
void summary_walk(const TarvikVt *vt, std::vector<uint32_t> &line, int len)
{
    int cols = tarvik_vt_cols(vt);
    int r = tarvik_vt_cursor_row(vt);
    int c = tarvik_vt_cursor_col(vt);
    for (int pos = len - 1; pos >= 0; --pos) {
        line[static_cast<size_t>(pos)] = r >= 1 ? summary_char(tarvik_vt_cell(vt, r, c)) : ' ';
        if (c > 0) {
            --c;
        } else {
            --r;
            c = cols - 1;
            if (r >= 1)
                while (c > 0 && is_blank(tarvik_vt_cell(vt, r, c - 1))) --c;
        }
    }
}

void put_summary_line(WINDOW *win, const std::vector<uint32_t> &line, int len)
{
    for (int pos = 0; pos < len; ++pos) {
        uint32_t ch = line[static_cast<size_t>(pos)];
        if (ch >= 0x20 && ch < 0x7F) {
            waddch(win, static_cast<chtype>(ch));
            continue;
        }
        bool wide_fits = pos + 1 < len && line[static_cast<size_t>(pos) + 1] == kCovered;
        if (ch == kCovered) {
            waddch(win, ' '); // its wide character was cut off on the left
        } else if (wcwidth(static_cast<wchar_t>(ch)) == 2) {
            if (wide_fits) {
                put_char(win, static_cast<wchar_t>(ch));
                ++pos; // the character took both columns
            } else {
                waddch(win, ' ');
            }
        } else if (wcwidth(static_cast<wchar_t>(ch)) == 1 && !wide_fits) {
            // (Followed by a covered position, it stood in a wide cell: the widths disagree.)
            put_char(win, static_cast<wchar_t>(ch));
        } else {
            waddch(win, ' ');
        }
    }
}

bool g_cursor_shown = true;
bool g_cursor_wanted = true;

// A short note on the bottom line, left of the mode indicator, until the next key.
std::string g_note;
int g_note_attr = 0;

} // namespace

void redraw_show_cursor(bool show) { g_cursor_wanted = show; }

void redraw_update()
{
    // curses sends a visibility change at once: only the last wish of a repaint goes out.
    if (g_cursor_wanted != g_cursor_shown) curs_set(g_cursor_wanted ? 1 : 0);
    g_cursor_shown = g_cursor_wanted;
    doupdate();
}

void redraw_set_note(const char *text, int attribute)
{
    g_note = text ? text : "";
    g_note_attr = attribute;
}

void mlist_draw_list()
{
    WINDOW *win = mlist_window();
    if (!win) return;
    int rows = getmaxy(win);
    int width = getmaxx(win);
    // What each row shows. The window keeps its cells between redraws, so a row whose text and colour
    // did not change is left as it is: the screen looks the same as after a full repaint, for less.
    struct Row {
        bool shown = false; // false: the row is blank
        int attr = 0;
        int tagged = 0;
        std::string name;
    };
    static WINDOW *shown_win = nullptr;
    static std::vector<Row> shown;
    // Anything else written into the window since its last refresh leaves it marked as changed.
    if (win != shown_win || static_cast<int>(shown.size()) != rows || is_wintouched(win)) {
        werase(win);
        shown_win = win;
        shown.assign(static_cast<size_t>(rows), Row{});
    }
    int scroll = mlist_scroll();
    for (int r = 0; r < rows; ++r) {
        Row &row = shown[static_cast<size_t>(r)];
        int i = scroll + r;
        if (i >= mlist_count()) {
            if (row.shown) {
                set_color(win, kAttrText);
                wmove(win, r, 0);
                wclrtoeol(win);
                row = Row{};
            }
            continue;
        }
        const Machine *m = mlist_machine(i);
        int attr = list_row_attribute(*m, i == mlist_selected());
        if (row.shown && row.attr == attr && row.tagged == m->tagged && row.name == m->name) continue;
        set_color(win, attr);
        wmove(win, r, 0);
        waddch(win, m->tagged == 1 ? '*' : ' ');
        put_name(win, m->name, width - 2);
        row.shown = true;
        row.attr = attr;
        row.tagged = m->tagged;
        row.name = m->name;
    }
    set_color(win, kAttrText);
}

void mlist_draw_summary(WINDOW *win)
{
    if (!win) return;
    int rows = getmaxy(win);
    int len = getmaxx(win) - 1; // the window's last column stays blank
    // For each row, the version of the machine's screen it was read from (0: blank). Only rows whose
    // screen changed are read and written again; the window keeps the others (see mlist_draw_list).
    static WINDOW *shown_win = nullptr;
    static int shown_len = 0;
    static std::vector<unsigned long> shown;
    if (win != shown_win || len != shown_len || static_cast<int>(shown.size()) != rows ||
        is_wintouched(win)) {
        werase(win);
        shown_win = win;
        shown_len = len;
        shown.assign(static_cast<size_t>(rows), 0);
    }
    if (len < 1) return;
    // Sized to the window, whatever its width; kept between calls so a redraw allocates nothing.
    static std::vector<uint32_t> line;
    line.resize(static_cast<size_t>(len));
    int scroll = mlist_scroll();
    for (int r = 0; r < rows; ++r) {
        unsigned long &version = shown[static_cast<size_t>(r)];
        int i = scroll + r;
        if (i >= mlist_count()) {
            if (version != 0) {
                set_color(win, kAttrText);
                wmove(win, r, 0);
                wclrtoeol(win);
                version = 0;
            }
            continue;
        }
        const TarvikVt *vt = mlist_machine(i)->term.get();
        unsigned long now = tarvik_vt_version(vt);
        if (now == version) continue;
        set_color(win, kAttrSummary);
        wmove(win, r, 0);
        summary_walk(vt, line, len);
        put_summary_line(win, line, len);
        version = now;
    }
    set_color(win, kAttrText);
}

void mlist_draw_terminal(WINDOW *win)
{
    if (!win) return;
    int sel = mlist_selected();
    if (sel >= 0 && sel < mlist_count()) {
        const TarvikVt *vt = mlist_machine(sel)->term.get();
        // The screen is as large as the window and covers all of it, so no erase is needed first; and
        // without one, the window keeps the rows that did not change and only the others are painted.
        tarvik_vt_draw(mlist_machine(sel)->term.get(), win, 0, 0, nullptr);
        // A full-screen program that hid its cursor must not get a stray one from us.
        redraw_show_cursor(tarvik_vt_cursor_visible(vt));
    } else {
        werase(win);
        redraw_show_cursor(true);
    }
}

void draw_status()
{
    WINDOW *win = layout_minibuf_window();
    if (!win) return;
    bool multicast = mlist_multicast();
    const char *text = multicast ? "!!! MULTICAST MODE !!!" : "singlecast mode";
    set_color(win, multicast ? kAttrMulticast : kAttrSinglecast);
    werase(win);
    mvwaddstr(win, 0, getmaxx(win) - static_cast<int>(std::strlen(text)), text);
    if (!g_note.empty()) {
        set_color(win, g_note_attr);
        mvwaddnstr(win, 0, 0, g_note.c_str(), getmaxx(win) - static_cast<int>(std::strlen(text)) - 1);
    }
    // With leaveok on, this window does not claim the visible cursor. curses would still leave the
    // cursor after the last character it wrote, so the terminal panel (leaveok off) is refreshed last
    // and puts it back on the emulated cursor, in the same update.
    leaveok(win, TRUE);
    wnoutrefresh(win);
    leaveok(win, FALSE);
    if (WINDOW *term = layout_terminal_window()) wnoutrefresh(term);
}

void redraw_panels(bool full)
{
    // Every window goes to curses' picture of the screen first and the terminal gets one update at
    // the end, in draw_status: fewer writes, and no moment with the cursor in the wrong place.
    if (full) {
        touchwin(stdscr);
        wnoutrefresh(stdscr);
    }
    if (WINDOW *list = mlist_window()) {
        mlist_draw_list();
        if (full) touchwin(list);
        wnoutrefresh(list);
    }
    if (WINDOW *summary = layout_summary_window()) {
        mlist_draw_summary(summary);
        if (full) touchwin(summary);
        wnoutrefresh(summary);
    }
    if (WINDOW *term = layout_terminal_window()) {
        mlist_draw_terminal(term);
        if (full) touchwin(term);
        wnoutrefresh(term);
    }
    draw_status();
}

void redraw(bool full)
{
    redraw_panels(full);
    redraw_update();
}
