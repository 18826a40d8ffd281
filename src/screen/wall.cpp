// The wall: a grid of tiles right of the list, each a machine's title and the part of its screen that
// holds its latest text, in pages that follow the selection.
#include "screen/wall.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "machines/compare.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/list.h"
#include "screen/panel.h"
#include "term/tarvik.h"

namespace {

// Columns of a separator left of each column of tiles, and the title row above each tile's text.
constexpr int kSeparatorCols = 1;
constexpr int kTitleRows = 1;

WallFilter g_filter = WallFilter::Keys;

// The size of part `i` of `n` equal parts of `total`: the first ones take what does not divide.
int share(int total, int n, int i)
{
    return total / n + (i < total % n ? 1 : 0);
}

// Where part `i` of `n` starts, counting `gap` columns before each part.
int share_start(int total, int n, int i, int gap)
{
    int at = 0;
    for (int j = 0; j < i; ++j) at += gap + share(total, n, j);
    return at + gap;
}

bool wall_shows(const Machine &m, int i, WallFilter filter, const std::vector<bool> &printing)
{
    switch (filter) {
    case WallFilter::Keys: return !mlist_multicast() || m.tagged;
    case WallFilter::All: return true;
    case WallFilter::Tagged: return m.tagged;
    case WallFilter::Odd: return m.answer.odd;
    case WallFilter::Dead: return !m.alive;
    case WallFilter::Printing: return printing[static_cast<size_t>(i)];
    }
    return true;
}

// What a tile showed when it was last painted: a tile is painted again only when one of these changed.
struct TileShown {
    unsigned long version = 0; // of its machine's screen; 0: no machine
    int attr = 0;
    char mark = ' ';
    bool tagged = false;
    std::string name;
    int cursor_y = -1, cursor_x = -1; // the emulated cursor in the window, when the tile shows it
};

// What the wall shows (see PanelRecord): its grid, page and caption, and each tile. Anything of the
// first three changing repaints everything.
struct WallPanel {
    PanelRecord record;
    WallGrid grid;
    int page = -1;
    std::string caption;
    std::vector<TileShown> tiles;
    std::vector<int> shown;     // list indices of the machines the filter lets through, in list order
    std::vector<bool> printing; // by list index
};
WallPanel g_wall;

// A tile's place in the window.
struct TileBox {
    int y, x, rows, cols;
};

TileBox tile_box(WINDOW *win, WallGrid grid, int k)
{
    int area_rows = getmaxy(win) - 1; // below the top line
    int area_cols = getmaxx(win) - grid.cols * kSeparatorCols;
    int c = k % grid.cols, r = k / grid.cols;
    return {1 + share_start(area_rows, grid.rows, r, 0), share_start(area_cols, grid.cols, c, kSeparatorCols),
            share(area_rows, grid.rows, r), share(area_cols, grid.cols, c)};
}

// The top line with the caption, the separators left of each column of tiles and the title lines.
void draw_lines(WINDOW *win, WallGrid grid, const std::string &caption)
{
    const int rows = getmaxy(win), cols = getmaxx(win);
    set_color(win, kAttrFrame);
    mvwhline(win, 0, 0, ACS_HLINE, cols);
    for (int k = 0; k < grid.cols * grid.rows; ++k) {
        TileBox b = tile_box(win, grid, k);
        mvwhline(win, b.y, b.x, ACS_HLINE, b.cols);
    }
    for (int c = 0; c < std::max(1, grid.cols); ++c) {
        int x = grid.cols ? tile_box(win, grid, c).x - kSeparatorCols : 0;
        mvwvline(win, 1, x, ACS_VLINE, rows - 1);
        mvwaddch(win, 0, x, ACS_TTEE);
        for (int r = 0; r < grid.rows; ++r)
            mvwaddch(win, tile_box(win, grid, r * grid.cols).y, x, c == 0 ? ACS_LTEE : ACS_PLUS);
    }
    wmove(win, 0, 2);
    panel_put_text(win, caption, cols - 2);
}

// The title row: the name in the list's colours after a stroke of the line, with the tag and the mark;
// the selected tile's title is a bar across the tile, as the selected row is in the list.
void draw_title(WINDOW *win, const TileBox &b, const Machine *m, bool selected, TileShown &shown)
{
    set_color(win, kAttrFrame);
    mvwhline(win, b.y, b.x, ACS_HLINE, b.cols);
    if (!m) return;
    const char mark = list_mark(*m);
    set_color(win, shown.attr);
    wmove(win, b.y, b.x + 1);
    int room = b.cols - 1;
    if (m->tagged && room > 0) {
        waddch(win, '*');
        --room;
    }
    int used = 0;
    panel_put_text(win, m->name, room - (mark != ' ' ? 1 : 0), &used);
    room -= used;
    if (mark != ' ' && room > 0) {
        set_color(win, mark == '~' ? kAttrText : kAttrQuestion);
        waddch(win, static_cast<chtype>(mark));
        --room;
    }
    if (selected) {
        set_color(win, shown.attr);
        for (; room > 0; --room) waddch(win, ' ');
    }
}

// Paints one tile: its title and the part of its machine's screen that holds the latest text; or, when
// only that screen changed, the rows of it that did.
void draw_tile(WINDOW *win, const TileBox &b, const Machine *m, bool selected, TileShown &shown, bool changes)
{
    if (!changes) draw_title(win, b, m, selected, shown);
    const int text_rows = b.rows - kTitleRows;
    shown.cursor_y = shown.cursor_x = -1;
    if (!m) {
        set_color(win, kAttrText);
        for (int r = 0; r < text_rows; ++r) mvwhline(win, b.y + kTitleRows + r, b.x, ' ', b.cols);
        return;
    }
    TarvikVt *vt = m->term.get();
    WallCrop crop = wall_crop(tarvik_vt_rows(vt), tarvik_vt_cols(vt), tarvik_vt_cursor_row(vt),
                              tarvik_vt_cursor_col(vt), text_rows, b.cols, selected);
    auto draw = changes ? tarvik_vt_draw_part_changes : tarvik_vt_draw_part;
    if (draw(vt, win, b.y + kTitleRows, b.x, text_rows, b.cols, crop.top, crop.left)) {
        shown.cursor_y = getcury(win);
        shown.cursor_x = getcurx(win);
    }
}

// The machines the filter shows now, in list order.
void collect_shown(WallFilter filter)
{
    const int count = mlist_count();
    g_wall.shown.clear();
    if (filter == WallFilter::Printing) {
        g_wall.printing.assign(static_cast<size_t>(count), false);
        for (int i : compare_current().printing)
            if (i >= 0 && i < count) g_wall.printing[static_cast<size_t>(i)] = true;
    }
    for (int i = 0; i < count; ++i)
        if (wall_shows(*mlist_machine(i), i, filter, g_wall.printing)) g_wall.shown.push_back(i);
}

const char *filter_word(WallFilter filter, bool multicast)
{
    switch (filter) {
    case WallFilter::Keys: return multicast ? "tagged (multicast)" : "machines";
    case WallFilter::All: return "all";
    case WallFilter::Tagged: return "tagged";
    case WallFilter::Odd: return "odd";
    case WallFilter::Dead: return "dead";
    case WallFilter::Printing: return "printing";
    }
    return "";
}

} // namespace

WallGrid wall_grid(int count, int rows, int cols, int term_rows, int term_cols)
{
    const int max_cols = cols / (kWallTileCols + kSeparatorCols);
    const int max_rows = rows / kWallTileRows;
    if (count <= 0 || max_cols <= 0 || max_rows <= 0) return {};
    if (count >= max_cols * max_rows) return {max_cols, max_rows};
    // The terminals' own shape, in character cells, which the tiles' text areas come closest to.
    const double want = static_cast<double>(std::max(1, term_cols)) / std::max(1, term_rows);
    WallGrid best;
    double best_score = 0;
    for (int r = 1; r <= max_rows; ++r) {
        int c = (count + r - 1) / r;
        if (c > max_cols) continue;
        // No row left empty: the tiles of the same columns get taller instead.
        int down = (count + c - 1) / c;
        double tile_cols = static_cast<double>(cols - c * kSeparatorCols) / c;
        double text_rows = static_cast<double>(rows) / down - kTitleRows;
        double score = std::fabs(std::log(tile_cols / text_rows / want));
        if (best.cols == 0 || score < best_score - 1e-9) {
            best = {c, down};
            best_score = score;
        }
    }
    return best;
}

WallCrop wall_crop(int screen_rows, int screen_cols, int cursor_row, int cursor_col, int rows, int cols,
                   bool follow_cursor)
{
    WallCrop crop;
    crop.top = std::clamp(cursor_row - rows + 1, 0, std::max(0, screen_rows - rows));
    // Other tiles keep the start of their lines in view, however long their prompts are.
    if (follow_cursor) crop.left = std::clamp(cursor_col - cols + 1, 0, std::max(0, screen_cols - cols));
    return crop;
}

bool wall_set_on(bool on)
{
    return layout_set_wall(on);
}

bool wall_on()
{
    return layout_wall();
}

void wall_next_filter()
{
    if (!wall_on()) {
        wall_set_on(true);
        return;
    }
    g_filter = g_filter == WallFilter::Printing ? WallFilter::Keys
                                                : static_cast<WallFilter>(static_cast<int>(g_filter) + 1);
}

WallFilter wall_filter()
{
    return g_filter;
}

std::string wall_caption(WallFilter filter, bool multicast, int count, int page, int pages)
{
    std::string text = "[Wall: ";
    if (filter == WallFilter::Keys)
        text += std::to_string(count) + " " + filter_word(filter, multicast);
    else
        text += std::string(filter_word(filter, multicast)) + " " + std::to_string(count);
    if (pages > 1) text += ", page " + std::to_string(page + 1) + " of " + std::to_string(pages);
    return text + "]";
}

bool wall_draw(WINDOW *win)
{
    if (!win) return false;
    collect_shown(g_filter);
    const int count = static_cast<int>(g_wall.shown.size());
    WINDOW *term = layout_terminal_window();
    const WallGrid grid =
        wall_grid(count, getmaxy(win) - 1, getmaxx(win), term ? getmaxy(term) : 1, term ? getmaxx(term) : 1);
    const int per_page = grid.cols * grid.rows;
    // The page of the selected machine, or of the first one shown after it when the filter leaves it out.
    const int selected = mlist_selected();
    int at = static_cast<int>(std::lower_bound(g_wall.shown.begin(), g_wall.shown.end(), selected) -
                              g_wall.shown.begin());
    const int pages = per_page > 0 ? (count + per_page - 1) / per_page : 0;
    const int page = per_page > 0 ? std::min(at, count - 1) / per_page : 0;
    const std::string caption = wall_caption(g_filter, mlist_multicast(), count, page, pages);

    bool holds = panel_holds(g_wall.record, win);
    if (!holds || !(grid == g_wall.grid) || page != g_wall.page || caption != g_wall.caption) {
        if (holds) werase(win);
        g_wall.grid = grid;
        g_wall.page = page;
        g_wall.caption = caption;
        g_wall.tiles.assign(static_cast<size_t>(per_page), TileShown{});
        draw_lines(win, grid, caption);
        if (count == 0) {
            set_color(win, kAttrText);
            mvwaddnstr(win, 2, 2, "No machine to show here: F1 W shows others.", getmaxx(win) - 2);
        }
    }
    // Unchanged tiles keep what they show: a screen's version changes with every change of its cells.
    tarvik_next_frame();
    const TileShown *cursor = nullptr;
    for (int k = 0; k < per_page; ++k) {
        int pos = page * per_page + k;
        const Machine *m = pos < count ? mlist_machine(g_wall.shown[static_cast<size_t>(pos)]) : nullptr;
        bool is_selected = m && g_wall.shown[static_cast<size_t>(pos)] == selected;
        TileShown &shown = g_wall.tiles[static_cast<size_t>(k)];
        TileShown now;
        if (m) {
            now.version = tarvik_vt_version(m->term.get());
            now.attr = list_row_attribute(*m, is_selected);
            now.mark = list_mark(*m);
            now.tagged = m->tagged;
        }
        bool same_title = shown.attr == now.attr && shown.mark == now.mark && shown.tagged == now.tagged &&
                          (!m || shown.name == m->name);
        if (!same_title || shown.version != now.version) {
            // The same machine's title over text that changed: only its changed rows are painted.
            bool changes = same_title && m && shown.version != 0;
            now.name = m ? m->name : std::string();
            shown = std::move(now);
            draw_tile(win, tile_box(win, grid, k), m, is_selected, shown, changes);
        }
        if (is_selected && shown.cursor_y >= 0 && tarvik_vt_cursor_visible(m->term.get())) cursor = &shown;
    }
    set_color(win, kAttrText);
    if (cursor) wmove(win, cursor->cursor_y, cursor->cursor_x);
    return cursor != nullptr;
}
