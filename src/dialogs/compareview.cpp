// The compare view: one header row per group of equal answers (how many machines and which), its first
// lines below it, then the machines still printing.
#include "event/keys.h"
#include "dialogs/compareview.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "event/wait.h"
#include "machines/compare.h"
#include "machines/hostrange.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/panel.h"
#include "screen/redraw.h"

namespace {

constexpr int kTextLines = 4; // lines of each group's answer shown under its header

constexpr std::string_view kIndent = "    "; // before each line of an answer

struct Row {
    std::string text;
    int attr;
    int group;      // the group the row belongs to; -1 for the rows after the groups
    int indent = 0; // blanks before the text
    int mark = -1;  // the byte of the text shown reversed: where the group first differs
};

struct View {
    CompareState state;
    unsigned long version = 0; // of the answers `state` is
    std::vector<Row> rows;
    int selected = 0; // group
    int whole = -1;   // the first machine of the group shown with its whole answer, or -1
    int top = 0;      // first row shown
    int height = 1;
    int width = 1;    // the panel's columns the rows were made for
    std::string said; // what the last key did, shown on the bottom line until the next key
};

std::string names_of(const std::vector<int> &machines)
{
    std::vector<std::string> names;
    for (int i : machines) names.push_back(mlist_machine(i)->name);
    return hostrange_compress(names);
}

// A line of an answer as rows of the panel: a line wider than the room after the indent goes on in the
// rows below, so that every column shows. `mark` is a byte of the line to show reversed, or npos.
void add_line(View &v, std::string_view line, int group, size_t mark)
{
    const int room = std::max(1, v.width - static_cast<int>(kIndent.size()));
    size_t at = 0;
    do {
        size_t n = panel_put_text(nullptr, line.substr(at), room);
        if (n == 0) n = 1; // a character wider than the room is shown as far as it goes
        Row row{std::string(line.substr(at, n)), kAttrText, group, static_cast<int>(kIndent.size())};
        if (mark != std::string_view::npos && mark >= at &&
            (mark < at + n || (mark == line.size() && at + n == line.size())))
            row.mark = static_cast<int>(mark - at);
        v.rows.push_back(std::move(row));
        at += n;
    } while (at < line.size());
}

// Tags the group's machines, untagging every other one when `only`; what the view says of it.
std::string tag_group(const std::vector<int> &group, bool only)
{
    int added = 0;
    for (int i = 0; i < mlist_count(); ++i) {
        const bool in = std::find(group.begin(), group.end(), i) != group.end();
        if (in && !mlist_machine(i)->tagged) ++added;
        if (in || only) mlist_set_tag(i, in);
    }
    const std::string names = names_of(group);
    if (only) return "compare: tagged " + std::to_string(group.size()) + ", untagged the rest: " + names;
    return "compare: tagged " + std::to_string(added) + " more, " + std::to_string(mlist_tagged_count()) +
           " in all: " + names;
}

// After Enter: where what the user types next goes, since in multicast it is not the machine just chosen
// alone.
void note_where_keys_go()
{
    if (!mlist_multicast()) {
        redraw_set_note("Singlecast: keys go to this machine alone", kAttrText);
        return;
    }
    const int tagged = mlist_tagged_count();
    const Machine *m = mlist_machine(mlist_selected());
    std::string note = tagged == 0 ? "Multicast is on: no machine is tagged"
                                   : "Multicast is on: keys go to " + std::to_string(tagged) +
                                         (tagged == 1 ? " tagged machine" : " tagged machines");
    if (tagged > 0 && m && !m->tagged) note += ", not this one";
    redraw_set_note(note.c_str(), kAttrQuestion);
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
        std::string header = std::to_string(groups[g].machines.size()) + "  " + names_of(groups[g].machines);
        // Where this answer leaves the largest group's, which may lie beyond the lines shown.
        CompareDifference diff;
        bool differs = g > 0;
        if (differs) {
            diff = compare_difference(groups[0].machines.front(), groups[g].machines.front());
            header += "  (differs from line " + std::to_string(diff.line + 1) + ")";
        }
        v.rows.push_back({header, head, gi});
        size_t from = 0;
        size_t shown = 0;
        bool all = groups[g].machines.front() == v.whole;
        const std::string text =
            all ? compare_answer_text(v.whole) : compare_group_text(groups[g], kTextLines);
        while (from < text.size() && (all || shown < kTextLines)) {
            size_t nl = text.find('\n', from);
            if (nl == std::string::npos) nl = text.size();
            std::string_view line(text.data() + from, nl - from);
            add_line(v, line, gi,
                     differs && diff.line == shown ? std::min(diff.offset, line.size())
                                                   : std::string_view::npos);
            from = nl + 1;
            ++shown;
        }
        size_t more = groups[g].lines - shown;
        if (groups[g].lines == 0)
            v.rows.push_back({"(no output)", kAttrSummary, gi, static_cast<int>(kIndent.size())});
        else if (more > 0)
            v.rows.push_back({"... " + std::to_string(more) + (more == 1 ? " more line" : " more lines"),
                              kAttrSummary, gi, static_cast<int>(kIndent.size())});
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

// Takes the answers as the compare module read them last.
void take_answers(View &v)
{
    v.state = compare_current();
    v.version = compare_version();
    int groups = static_cast<int>(v.state.groups.size());
    v.selected = std::max(0, std::min(v.selected, groups - 1));
    build_rows(v);
    scroll_to(v, v.top);
}

void paint_view(void *ctx)
{
    View &v = *static_cast<View *>(ctx);
    WINDOW *term = layout_terminal_window();
    // The answers read again since (the compare module's task reads them as they change), and the panel
    // at the screen's size now: the view fills it, its lines wrapped anew.
    if (v.version != compare_version()) take_answers(v);
    v.height = std::max(1, getmaxy(term));
    int cols = getmaxx(term);
    if (cols != v.width) {
        v.width = cols;
        build_rows(v);
    }
    scroll_to(v, v.top);
    werase(term);
    for (int r = 0; r < v.height; ++r) {
        size_t i = static_cast<size_t>(v.top + r);
        if (i >= v.rows.size()) break;
        const Row &row = v.rows[i];
        set_color(term, row.attr);
        wmove(term, r, row.indent);
        int room = cols - row.indent, used = 0;
        std::string_view text = row.text;
        if (row.mark < 0) {
            panel_put_text(term, text, room);
            continue;
        }
        // The first character that differs, reversed; a blank when the line ends there.
        size_t mark = static_cast<size_t>(row.mark);
        panel_put_text(term, text.substr(0, mark), room, &used);
        size_t n = mark < text.size() ? panel_put_text(nullptr, text.substr(mark), 2) : 0;
        wattron(term, A_REVERSE);
        if (n > 0)
            panel_put_text(term, text.substr(mark, n), room - used);
        else if (used < room)
            waddch(term, ' ');
        wattroff(term, A_REVERSE);
        panel_put_text(term, text.substr(mark + n), cols - getcurx(term));
    }
    wnoutrefresh(term);

    WINDOW *mb = layout_minibuf_window();
    werase(mb);
    char where[192];
    std::snprintf(where, sizeof where,
                  "compare: %zu group%s, %zu printing; arrows, Space all, PgUp/Dn, Enter select, q leave",
                  v.state.groups.size(), v.state.groups.size() == 1 ? "" : "s", v.state.printing.size());
    set_color(mb, kAttrText);
    wmove(mb, 0, 0);
    // What a key did names machines: cleaned as the panels clean names.
    panel_put_text(mb, v.said.empty() ? std::string_view(where) : v.said, getmaxx(mb));
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
    v.width = std::max(1, getmaxx(term));
    // The answers as they are now, not as they were at the last refresh.
    compare_refresh();
    take_answers(v);
    {
        WaitDialog dialog(paint_view, &v);
        redraw_panels(true);
        paint_view(&v);
        redraw_update();
        for (bool open = true; open;) {
            int key = wait_key();
            int groups = static_cast<int>(v.state.groups.size());
            v.said.clear();
            switch (key) {
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
                if (v.selected < groups) {
                    mlist_select(v.state.groups[static_cast<size_t>(v.selected)].machines.front());
                    note_where_keys_go();
                }
                open = false;
                break;
            case 't':
            case 'T':
                if (v.selected < groups)
                    v.said = tag_group(v.state.groups[static_cast<size_t>(v.selected)].machines, key == 't');
                break;
            case 'q':
            case kEscape: open = false; break;
            default: break; // nothing typed here reaches a machine
            }
            if (!open) break;
            build_rows(v);
            if (key == KEY_UP || key == KEY_DOWN || key == ' ') show_selected(v);
            wait_repaint();
        }
    }
    werase(term);
}
