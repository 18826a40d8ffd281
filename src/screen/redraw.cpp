// Painting the panels: machine list, summary column, selected terminal and the mode indicator.
#include "screen/redraw.h"

#include <wchar.h>

#include <cstring>
#include <string>
#include <vector>

#include "machines/compare.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/panel.h"

namespace {

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

// Writes the name into exactly `width` columns, cleaned, padded with blanks.
void put_name(WINDOW *win, const std::string &name, int width)
{
    int used = 0;
    panel_put_text(win, name, width, &used);
    for (; used < width; ++used) waddch(win, ' ');
}

// What each row of the list shows (see PanelRecord): a row whose text and colour did not change is
// left as it is.
struct ListRow {
    bool shown = false; // false: the row is blank
    int attr = 0;
    int tagged = 0;
    int odd = 0;
    std::string name;
};
struct ListPanel {
    PanelRecord record;
    std::vector<ListRow> rows;
};
ListPanel g_list;

bool g_cursor_shown = true;
bool g_cursor_wanted = true;

// A short note on the bottom line, left of the mode indicator, until the next key.
std::string g_note;
int g_note_attr = 0;

} // namespace

void redraw_show_cursor(bool show)
{
    g_cursor_wanted = show;
}

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
    std::vector<ListRow> &shown = g_list.rows;
    if (!panel_holds(g_list.record, win)) shown.assign(static_cast<size_t>(rows), ListRow{});
    int scroll = mlist_scroll();
    for (int r = 0; r < rows; ++r) {
        ListRow &row = shown[static_cast<size_t>(r)];
        int i = scroll + r;
        if (i >= mlist_count()) {
            if (row.shown) {
                set_color(win, kAttrText);
                wmove(win, r, 0);
                wclrtoeol(win);
                row = ListRow{};
            }
            continue;
        }
        const Machine *m = mlist_machine(i);
        int attr = list_row_attribute(*m, i == mlist_selected());
        if (row.shown && row.attr == attr && row.tagged == m->tagged && row.odd == m->odd_answer &&
            row.name == m->name)
            continue;
        set_color(win, attr);
        wmove(win, r, 0);
        waddch(win, m->tagged == 1 ? '*' : ' ');
        put_name(win, m->name, width - 2);
        // The last column, outside the row's bar: its answer to the last multicast command differs
        // from most machines'.
        if (width >= 2 && (m->odd_answer || row.odd)) {
            if (m->odd_answer)
                set_color(win, kAttrQuestion);
            else
                wattrset(win, A_NORMAL);
            mvwaddch(win, r, width - 1, m->odd_answer ? '!' : ' ');
        }
        row.shown = true;
        row.attr = attr;
        row.tagged = m->tagged;
        row.odd = m->odd_answer;
        row.name = m->name;
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
        wmove(win, 0, 0);
        panel_put_text(win, g_note, getmaxx(win) - static_cast<int>(std::strlen(text)) - 1);
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
    // The panels have no room: the notice stands for them, and the machines wait unseen behind it.
    if (!layout_fits()) {
        layout_draw_notice();
        redraw_show_cursor(false);
        return;
    }
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
