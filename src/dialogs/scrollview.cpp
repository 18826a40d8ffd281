// The history view: the selected machine's scrolled-off lines in the terminal panel, with paging and
// a search backwards and forwards.
//
// It looks at a copy of the history taken when it opens, with the screen of that moment added as the
// newest lines: the machine goes on printing into its own history and screen meanwhile, and the view
// neither jumps nor loses the lines it shows when the limit drops old ones.
#include "event/keys.h"
#include "dialogs/scrollview.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "dialogs/minibuf.h"
#include "event/wait.h"
#include "machines/history.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/panel.h"
#include "screen/redraw.h"

namespace {

constexpr size_t kSearchSize = 64; // room for 63 bytes, as the add prompt

struct View {
    History lines;
    uint64_t top = 0; // the line on the panel's first row
    int rows = 1;
    std::string search; // the text last searched for
    bool matched = false;
    uint64_t match = 0; // the line of the last occurrence found
    std::string note;   // shown instead of the position until the next key
    std::vector<TarvikLineCell> cells;
};

uint64_t last_top(const View &v)
{
    uint64_t end = history_end(v.lines), begin = history_begin(v.lines);
    return end - begin > static_cast<uint64_t>(v.rows) ? end - static_cast<uint64_t>(v.rows) : begin;
}

void scroll_to(View &v, int64_t top)
{
    int64_t first = static_cast<int64_t>(history_begin(v.lines)), last = static_cast<int64_t>(last_top(v));
    v.top = static_cast<uint64_t>(std::max(first, std::min(last, top)));
}

// Shows the first occurrence of the search in the line's cells reversed, found in the line's text
// (which holds each cell's characters in order).
void mark_match(View &v, uint64_t line)
{
    std::string_view text = history_text(v.lines, line);
    size_t at = text.find(v.search);
    if (at == std::string_view::npos) return;
    size_t end = at + v.search.size(), pos = 0;
    for (TarvikLineCell &c : v.cells) {
        size_t len = 0;
        if (c.width != 0) {
            len = c.chars[0] == 0 ? 1 : 0;
            for (int k = 0; k < kTarvikMaxChars && c.chars[k]; ++k) len += utf8_size(c.chars[k]);
        }
        if (pos < end && pos + len > at) c.style.attrs ^= kTarvikReverse;
        // The right half of a wide character goes with its left half.
        if (c.width == 0 && pos > at && pos <= end) c.style.attrs ^= kTarvikReverse;
        pos += len;
    }
}

void paint_view(void *ctx)
{
    View &v = *static_cast<View *>(ctx);
    WINDOW *term = layout_terminal_window();
    // The panel follows the screen's size: the view fills it, and never shows blank rows below the newest
    // line while older lines would fit.
    v.rows = std::max(1, getmaxy(term));
    v.top = std::min(v.top, last_top(v));
    werase(term);
    for (int row = 0; row < v.rows; ++row) {
        uint64_t line = v.top + static_cast<uint64_t>(row);
        if (line >= history_end(v.lines)) break;
        history_cells(v.lines, line, v.cells);
        if (v.matched && line == v.match) mark_match(v, line);
        tarvik_draw_line(term, row, 0, v.cells.data(), static_cast<int>(v.cells.size()));
    }
    wnoutrefresh(term);

    WINDOW *mb = layout_minibuf_window();
    werase(mb);
    if (!v.note.empty()) {
        set_color(mb, kAttrError);
        wmove(mb, 0, 0);
        panel_put_text(mb, v.note, getmaxx(mb)); // it holds the text searched for
    } else {
        char where[96];
        if (history_size(v.lines) == 0)
            std::snprintf(where, sizeof where, "history: empty, q to leave");
        else
            std::snprintf(where, sizeof where, "history: line %llu of %zu, q to leave",
                          static_cast<unsigned long long>(v.top - history_begin(v.lines) + 1),
                          history_size(v.lines));
        set_color(mb, kAttrText);
        mvwaddnstr(mb, 0, 0, where, getmaxx(mb));
    }
    wnoutrefresh(mb);
    redraw_show_cursor(false);
}

// Moves to the next occurrence of the search before (or after) the last one found while that one is
// in view, so that n and N step through them; otherwise from the panel's last row back (or its first
// row on), wherever the user moved the view. At either end the search goes round once, and says so,
// as pagers do. The view scrolls only when the line is not in it, and then centres it.
void find(View &v, bool backward)
{
    if (v.search.empty() || history_size(v.lines) == 0) return;
    uint64_t begin = history_begin(v.lines), end = history_end(v.lines);
    uint64_t first = v.top, last = std::min(v.top + static_cast<uint64_t>(v.rows), end) - 1;
    bool from_match = v.matched && v.match >= first && v.match <= last;
    std::optional<uint64_t> line;
    bool wrapped = false;
    if (backward) {
        uint64_t before = from_match ? v.match : last + 1; // looked for strictly before this line
        if (before > begin) line = history_find(v.lines, v.search, before - 1, true);
        if (!line) line = history_find(v.lines, v.search, end - 1, true), wrapped = true;
    } else {
        uint64_t from = from_match ? v.match + 1 : first;
        if (from < end) line = history_find(v.lines, v.search, from, false);
        if (!line) line = history_find(v.lines, v.search, begin, false), wrapped = true;
    }
    if (!line) {
        v.note = "not found: " + v.search;
        return;
    }
    if (wrapped) v.note = "search wrapped";
    v.matched = true;
    v.match = *line;
    if (v.match < v.top || v.match >= v.top + static_cast<uint64_t>(v.rows))
        scroll_to(v, static_cast<int64_t>(v.match) - v.rows / 2);
}

// Asks for a text and looks for it backwards; an empty answer looks again for the last one.
void ask_and_find(View &v)
{
    std::string text;
    if (!minibuf_prompt(layout_minibuf_window(), "Search back: ", kAttrPrompt, text, kSearchSize)) return;
    if (!text.empty()) {
        v.search = text;
        v.matched = false;
    }
    find(v, true);
}

} // namespace

void scrollview_show()
{
    Machine *m = mlist_machine(mlist_selected());
    WINDOW *term = layout_terminal_window();
    if (!m || !term) return;
    View v;
    v.rows = std::max(1, getmaxy(term));
    v.lines = m->history;
    history_set_limit(v.lines, history_size(v.lines) + static_cast<size_t>(tarvik_vt_rows(m->term.get())));
    history_add_screen(v.lines, m->term.get());
    // Opens on the newest lines: the screen as it was, with the history above it.
    v.top = last_top(v);
    {
        WaitDialog dialog(paint_view, &v);
        // Whatever covered the panels (the menu) is gone: everything is drawn again under the view.
        redraw_panels(true);
        paint_view(&v);
        redraw_update();
        for (bool open = true; open;) {
            int key = wait_key();
            if (key == ERR) continue;
            v.note.clear();
            switch (key) {
            case KEY_UP: scroll_to(v, static_cast<int64_t>(v.top) - 1); break;
            case KEY_DOWN: scroll_to(v, static_cast<int64_t>(v.top) + 1); break;
            case KEY_PPAGE: scroll_to(v, static_cast<int64_t>(v.top) - v.rows); break;
            case KEY_NPAGE: scroll_to(v, static_cast<int64_t>(v.top) + v.rows); break;
            case KEY_HOME: scroll_to(v, 0); break;
            case KEY_END: scroll_to(v, static_cast<int64_t>(last_top(v))); break;
            case '/': ask_and_find(v); break;
            case 'n': find(v, true); break;
            case 'N': find(v, false); break;
            case 'q':
            case kEscape:
            case KEY_F(1): open = false; break;
            default: break; // nothing typed here reaches a machine
            }
            if (open) wait_repaint();
        }
    }
    // The panel holds the view: the machine's screen is drawn whole into it again.
    werase(term);
}
