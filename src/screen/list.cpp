// The list panel: a row per machine, its tag, its name and the mark of an odd answer, a question or a
// queued login, in the colours of its state.
#include "screen/list.h"

#include <string>
#include <vector>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/panel.h"

namespace {

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
    bool tagged = false;
    char mark = ' ';
    std::string name;
};
struct ListPanel {
    PanelRecord record;
    std::vector<ListRow> rows;
};
ListPanel g_list;

} // namespace

int list_row_attribute(const Machine &m, bool selected)
{
    int attr;
    if (m.tagged)
        attr = m.alive ? kAttrRowTagged : kAttrRowTaggedDead;
    else
        attr = m.alive ? kAttrRowAlive : kAttrRowDead;
    return selected ? attr | kAttrRowSelected : attr;
}

char list_mark(const Machine &m)
{
    if (m.answer.odd) return '!';
    switch (login_state(m.login)) {
    case FleetState::Asking: return '?';
    case FleetState::Queued: return '~';
    default: return ' ';
    }
}

void list_draw(WINDOW *win)
{
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
        const char mark = list_mark(*m);
        if (row.shown && row.attr == attr && row.tagged == m->tagged && row.mark == mark &&
            row.name == m->name)
            continue;
        set_color(win, attr);
        wmove(win, r, 0);
        waddch(win, m->tagged ? '*' : ' ');
        put_name(win, m->name, width - 2);
        if (width >= 2 && (mark != ' ' || row.mark != ' ')) {
            if (mark == ' ')
                wattrset(win, A_NORMAL);
            else
                set_color(win, mark == '~' ? kAttrText : kAttrQuestion);
            mvwaddch(win, r, width - 1, static_cast<chtype>(mark));
        }
        row.shown = true;
        row.attr = attr;
        row.tagged = m->tagged;
        row.mark = mark;
        row.name = m->name;
    }
    set_color(win, kAttrText);
}
