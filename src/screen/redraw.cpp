// Painting the panels in one update: the list, the summary column, the selected terminal, the mode
// indicator and its note.
#include "screen/redraw.h"

#include <wchar.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/counts.h"
#include "screen/layout.h"
#include "screen/list.h"
#include "screen/panel.h"
#include "screen/summary.h"
#include "screen/wall.h"
#include "term/tarvik.h"

namespace {

// The user's terminal cursor: as it was last sent, and as the next update should leave it.
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
    tarvik_update(stdout);
}

void redraw_set_note(const char *text, int attribute)
{
    g_note = text ? text : "";
    g_note_attr = attribute;
}

void redraw_terminal(WINDOW *win)
{
    if (!win) return;
    int sel = mlist_selected();
    if (sel >= 0 && sel < mlist_count()) {
        const TarvikVt *vt = mlist_machine(sel)->term.get();
        // The screen is as large as the window and covers all of it, so no erase is needed first; and
        // without one, the window keeps the rows that did not change and only the others are painted.
        tarvik_vt_draw(mlist_machine(sel)->term.get(), win, 0, 0);
        // A full-screen program that hid its cursor must not get a stray one from us.
        redraw_show_cursor(tarvik_vt_cursor_visible(vt));
    } else {
        werase(win);
        redraw_show_cursor(true);
    }
}

void redraw_status()
{
    WINDOW *win = layout_minibuf_window();
    if (!win) return;
    bool multicast = mlist_multicast();
    const char *text = multicast ? "!!! MULTICAST MODE !!!" : "singlecast mode";
    const int cols = getmaxx(win);
    const int indicator_x = cols - static_cast<int>(std::strlen(text));
    set_color(win, multicast ? kAttrMulticast : kAttrSinglecast);
    werase(win);
    mvwaddstr(win, 0, indicator_x, text);
    int note_end = 0;
    if (!g_note.empty()) {
        set_color(win, g_note_attr);
        wmove(win, 0, 0);
        panel_put_text(win, g_note, indicator_x - 1, &note_end);
    }
    // The fleet's counts stand against the indicator, in what the note leaves of the line.
    const int gap = 2;
    const int room = indicator_x - gap - (note_end > 0 ? note_end + gap : 0);
    const std::string counts = counts_text(mlist_fleet_counts(), room);
    if (!counts.empty()) {
        set_color(win, kAttrText);
        mvwaddstr(win, 0, indicator_x - gap - static_cast<int>(counts.size()), counts.c_str());
    }
    // With leaveok on, this window does not claim the visible cursor. curses would still leave the
    // cursor after the last character it wrote, so the terminal panel (leaveok off) is refreshed last
    // and puts it back on the emulated cursor, in the same update.
    leaveok(win, TRUE);
    wnoutrefresh(win);
    leaveok(win, FALSE);
    if (WINDOW *cursor = wall_on() ? layout_wall_window() : layout_terminal_window()) wnoutrefresh(cursor);
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
        list_draw(list);
        if (full) touchwin(list);
        wnoutrefresh(list);
    }
    if (WINDOW *wall = layout_wall_window()) {
        // The wall covers the summary and the terminal panel, which are not drawn under it.
        redraw_show_cursor(wall_draw(wall));
        if (full) touchwin(wall);
        wnoutrefresh(wall);
        redraw_status();
        return;
    }
    if (WINDOW *summary = layout_summary_window()) {
        summary_draw(summary);
        if (full) touchwin(summary);
        wnoutrefresh(summary);
    }
    if (WINDOW *term = layout_terminal_window()) {
        redraw_terminal(term);
        if (full) touchwin(term);
        wnoutrefresh(term);
    }
    redraw_status();
}

void redraw(bool full)
{
    redraw_panels(full);
    redraw_update();
}
