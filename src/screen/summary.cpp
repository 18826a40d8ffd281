// The summary column: each machine's latest text, read backwards from its cursor.
#include "screen/summary.h"

#include <wchar.h>

#include <cstdint>
#include <vector>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/panel.h"

namespace {

constexpr uint32_t kCovered = 0xFFFFFFFFu; // right half of a wide character in a summary line
constexpr char kUnshowable = '?';          // in each column of a character the locale cannot show

// What the summary panel shows (see PanelRecord): for each row, the version of the machine's screen it
// was read from (0: blank), so that only rows whose screen changed are read and written again.
struct SummaryPanel {
    PanelRecord record;
    std::vector<unsigned long> versions;
    std::vector<uint32_t> line; // sized to the window, kept so that a redraw allocates nothing
};
SummaryPanel g_summary;

// The code point a summary position shows: blanks for control and format characters.
uint32_t summary_char(TarvikCell cell)
{
    if (cell.width == 0) return kCovered;
    if (cell.ch < 33 || cell.ch == 127 || tarvik_char_is_format(cell.ch)) return ' ';
    return cell.ch;
}

// Only a real blank is dropped at the end of a row; the right half of a wide character is text.
bool is_blank(TarvikCell cell)
{
    return cell.ch == 32 && cell.width == 1;
}

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
        int width = wcwidth(static_cast<wchar_t>(ch));
        if (ch == kCovered) {
            waddch(win, ' '); // its wide character was cut off on the left
        } else if (width < 0) {
            // The locale cannot show it (LANG=C): a mark in each of its columns says something is there.
            waddch(win, kUnshowable);
            if (wide_fits) {
                waddch(win, kUnshowable);
                ++pos;
            }
        } else if (width == 2) {
            if (wide_fits) {
                panel_put_char(win, static_cast<wchar_t>(ch));
                ++pos; // the character took both columns
            } else {
                waddch(win, ' ');
            }
        } else if (width == 1 && !wide_fits) {
            // (Followed by a covered position, it stood in a wide cell: the widths disagree.)
            panel_put_char(win, static_cast<wchar_t>(ch));
        } else {
            waddch(win, ' ');
        }
    }
}

} // namespace

void summary_draw(WINDOW *win)
{
    if (!win) return;
    int rows = getmaxy(win);
    int len = getmaxx(win) - 1; // the window's last column stays blank
    std::vector<unsigned long> &shown = g_summary.versions;
    if (!panel_holds(g_summary.record, win)) shown.assign(static_cast<size_t>(rows), 0);
    if (len < 1) return;
    std::vector<uint32_t> &line = g_summary.line;
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
