// The compare view: one header row per group of equal answers (how many machines and which), its first
// lines below it, then the machines still printing.
#include "dialogs/compareview.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/wait.h"
#include "machines/compare.h"
#include "machines/hostrange.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/redraw.h"

namespace {

constexpr int kEscape = 27;
constexpr int kTextLines = 4;     // lines of each group's answer shown under its header
constexpr int kRecomputeMs = 250; // how often the answers are read again while no key comes

struct Row {
    std::string text;
    int attr;
    int group; // the group the row belongs to; -1 for the rows after the groups
};

struct View {
    CompareState state;
    std::vector<Row> rows;
    int selected = 0; // group
    int whole = -1;   // the first machine of the group shown with its whole answer, or -1
    int top = 0;      // first row shown
    int height = 1;
};

std::string names_of(const std::vector<int> &machines)
{
    std::vector<std::string> names;
    for (int i : machines) names.push_back(mlist_machine(i)->name);
    return hostrange_compress(names);
}

void build_rows(View &v)
{
    v.rows.clear();
    const std::vector<CompareGroup> &groups = v.state.groups;
    for (size_t g = 0; g < groups.size(); ++g) {
        int gi = static_cast<int>(g);
        // A machine alone with its answer is the one to look at.
        int head = groups[g].machines.size() == 1 && groups.size() > 1 ? kAttrQuestion : kAttrPrompt;
        if (gi == v.selected) head = kAttrBar;
        v.rows.push_back(
            {std::to_string(groups[g].machines.size()) + "  " + names_of(groups[g].machines), head, gi});
        size_t from = 0;
        int shown = 0;
        bool all = groups[g].machines.front() == v.whole;
        const std::string text = all ? compare_answer_text(v.whole) : groups[g].text;
        while (from < text.size() && (all || shown < kTextLines)) {
            size_t nl = text.find('\n', from);
            if (nl == std::string::npos) nl = text.size();
            v.rows.push_back({"    " + text.substr(from, nl - from), kAttrText, gi});
            from = nl + 1;
            ++shown;
        }
        size_t more = groups[g].lines - static_cast<size_t>(shown);
        if (groups[g].lines == 0)
            v.rows.push_back({"    (no output)", kAttrSummary, gi});
        else if (more > 0)
            v.rows.push_back({"    ... " + std::to_string(more) + (more == 1 ? " more line" : " more lines"),
                              kAttrSummary, gi});
    }
    if (!v.state.printing.empty())
        v.rows.push_back({"still printing: " + names_of(v.state.printing), kAttrSummary, -1});
    if (v.state.clipped)
        v.rows.push_back(
            {"(answers longer than the history are compared on what is kept)", kAttrSummary, -1});
    if (!v.state.any) v.rows.push_back({"no command was sent in multicast yet", kAttrSummary, -1});
}

void scroll_to(View &v, int top)
{
    v.top = std::max(0, std::min(top, static_cast<int>(v.rows.size()) - v.height));
}

// Brings the selected group's header into view.
void show_selected(View &v)
{
    for (size_t r = 0; r < v.rows.size(); ++r) {
        if (v.rows[r].group != v.selected) continue;
        int row = static_cast<int>(r);
        if (row < v.top)
            scroll_to(v, row);
        else if (row >= v.top + v.height)
            scroll_to(v, row - v.height + 1);
        return;
    }
}

void recompute(View &v)
{
    v.state = compare_state(kTextLines);
    int groups = static_cast<int>(v.state.groups.size());
    v.selected = std::max(0, std::min(v.selected, groups - 1));
    build_rows(v);
    scroll_to(v, v.top);
}

void paint_view(void *ctx)
{
    View &v = *static_cast<View *>(ctx);
    WINDOW *term = layout_terminal_window();
    // The panel follows the screen's size: the view fills it as it is now.
    v.height = std::max(1, getmaxy(term));
    scroll_to(v, v.top);
    werase(term);
    int cols = getmaxx(term);
    for (int r = 0; r < v.height; ++r) {
        size_t i = static_cast<size_t>(v.top + r);
        if (i >= v.rows.size()) break;
        set_color(term, v.rows[i].attr);
        mvwaddnstr(term, r, 0, v.rows[i].text.c_str(), cols);
    }
    wnoutrefresh(term);

    WINDOW *mb = layout_minibuf_window();
    werase(mb);
    char where[192];
    std::snprintf(where, sizeof where,
                  "compare: %zu group%s, %zu printing; arrows, Space all, PgUp/Dn, Enter select, q leave",
                  v.state.groups.size(), v.state.groups.size() == 1 ? "" : "s", v.state.printing.size());
    set_color(mb, kAttrText);
    mvwaddnstr(mb, 0, 0, where, getmaxx(mb));
    wnoutrefresh(mb);
    redraw_show_cursor(false);
}

} // namespace

void compareview_show()
{
    WINDOW *term = layout_terminal_window();
    if (!term) return;
    View v;
    v.height = std::max(1, getmaxy(term));
    recompute(v);
    {
        WaitDialog dialog(paint_view, &v);
        redraw_panels(true);
        paint_view(&v);
        redraw_update();
        for (bool open = true; open;) {
            int key = wait_key_for(kRecomputeMs);
            int groups = static_cast<int>(v.state.groups.size());
            switch (key) {
            case ERR: break;
            case KEY_UP: v.selected = std::max(0, v.selected - 1); break;
            case KEY_DOWN: v.selected = std::min(groups - 1, v.selected + 1); break;
            case KEY_PPAGE: scroll_to(v, v.top - v.height); break;
            case KEY_NPAGE: scroll_to(v, v.top + v.height); break;
            case ' ':
                // The selected group's whole answer, or its first lines again.
                if (v.selected < groups) {
                    int first = v.state.groups[static_cast<size_t>(v.selected)].machines.front();
                    v.whole = v.whole == first ? -1 : first;
                }
                break;
            case '\r':
            case '\n':
            case KEY_ENTER:
                if (v.selected < groups)
                    mlist_select(v.state.groups[static_cast<size_t>(v.selected)].machines.front());
                open = false;
                break;
            case 'q':
            case kEscape: open = false; break;
            default: break; // nothing typed here reaches a machine
            }
            if (!open) break;
            recompute(v);
            if (key == KEY_UP || key == KEY_DOWN || key == ' ') show_selected(v);
            wait_repaint();
        }
    }
    werase(term);
}
