// The division of the screen: panel windows, the frame and the key-help bar, at each size it takes.
#include "screen/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/colors.h"
#include "screen/screen.h"
#include "screen/wall.h"
#include "screen/window.h"

namespace {

// Made at start-up and kept until the process exits; a new size moves and resizes them.
WindowPtr list_window;
WindowPtr summary_window;
WindowPtr terminal_window;
WindowPtr minibuf_window;
WindowPtr wall_window; // only while the wall is on

// A narrower summary panel could not show anything useful.
constexpr int kMinSummaryWidth = 3;
// Below this width the captions would crowd the top line.
constexpr int kMinCaptionCols = 91;

// Bytes 1-7 are not shown: each switches to that colour on the bar's blue.
constexpr char kKeyHelp[] = "Quillor v" QUILLOR_VERSION
                            "  \aF1\a:menu  \6F2/3\a:sel  \3F4\a:tag  \2F5\a:add  \1F6\a:del  \5F7\a:mcast";

// Ends curses first, so the message lands on the user's own screen.
[[noreturn]] void layout_fail_width(int list_width, int cols)
{
    endwin();
    std::fprintf(stderr,
                 QUILLOR_NAME ": list width %d leaves no room for the terminal on a %d-column screen.\n",
                 list_width, cols);
    std::exit(1);
}

void layout_draw_bar(int row, int cols)
{
    set_color(stdscr, kAttrBar);
    wmove(stdscr, row, 0);
    whline(stdscr, ' ', cols);
    wmove(stdscr, row, 0);
    for (const char *p = kKeyHelp; *p; ++p) {
        if (*p >= 1 && *p <= 7)
            set_color(stdscr, attr_bar_key(*p));
        else
            waddch(stdscr, static_cast<unsigned char>(*p));
    }
}

// Writes a caption on the top line, cut at the right edge rather than wrapped onto the next row.
void layout_caption(int col, int cols, const char *text)
{
    int room = cols - col;
    if (room <= 0) return;
    mvwaddnstr(stdscr, 0, col, text, std::min(room, static_cast<int>(std::strlen(text))));
}

// Where everything goes on a screen of a given size.
struct Geometry {
    int rows, cols;
    int term_x;       // first column of the terminal panel; the separator is just left of it
    int panel_rows;   // rows of every panel
    int term_cols;    // columns of the terminal panel
    int summary_cols; // columns between the list and the separator; a window only from kMinSummaryWidth
};

// The widths given at start-up, kept for every later layout.
int g_list_width = 0;
int g_term_width = 0;
bool g_fits = true;
bool g_wall = false;

// The wall's window starts right of the list, on its left separator.
int layout_wall_x()
{
    return g_list_width + 2;
}

// Columns the screen needs: the list and a terminal column, or with the wall the list and one tile.
long long layout_needed_cols()
{
    long long list = static_cast<long long>(g_list_width);
    long long panels = g_wall ? list + 2 + 1 + kWallTileCols : list + 4;
    return std::max<long long>(kScreenMinCols, panels);
}

// False when the list leaves the terminal panel no column.
bool layout_compute(int rows, int cols, Geometry &g)
{
    // Wide enough arithmetic that no width given on the command line can overflow it.
    long long wanted_x = static_cast<long long>(cols) - g_term_width;
    long long term_x = std::max(wanted_x, static_cast<long long>(g_list_width) + 3);
    if (cols - term_x < 1) return false;
    if (g_wall && (cols < layout_needed_cols() || rows - 3 < kWallTileRows)) return false;
    g.rows = rows;
    g.cols = cols;
    g.term_x = static_cast<int>(term_x);
    g.panel_rows = rows - 3;
    g.term_cols = cols - g.term_x;
    g.summary_cols = g.term_x - g_list_width - 3;
    return true;
}

// Makes the window, or moves and resizes the one there is: dialogs keep pointers to them.
void layout_put(WindowPtr &win, int rows, int cols, int y, int x)
{
    if (!win) {
        win = window_new(rows, cols, y, x);
        return;
    }
    // Resized first: curses refuses to move a window to where its old size would not fit.
    wresize(win.get(), rows, cols);
    mvwin(win.get(), y, x);
}

void layout_place(const Geometry &g)
{
    layout_put(list_window, g.panel_rows, g_list_width + 2, 1, 0);
    if (g.summary_cols >= kMinSummaryWidth)
        layout_put(summary_window, g.panel_rows, g.summary_cols, 1, g_list_width + 2);
    else
        summary_window.reset();
    layout_put(terminal_window, g.panel_rows, g.term_cols, 1, g.term_x);
    // The machines' screens are drawn there: what is blank shows their default colours, the user's own.
    if (terminal_window) wbkgd(terminal_window.get(), ' ');
    layout_put(minibuf_window, 1, g.cols, g.rows - 1, 0);
    if (g_wall) {
        // From the top line, which carries the wall's caption, down to the last panel row.
        layout_put(wall_window, g.rows - 2, g.cols - layout_wall_x(), 0, layout_wall_x());
        if (wall_window) wbkgd(wall_window.get(), ' ');
    } else {
        wall_window.reset();
    }
    // The list and summary never hold the visible cursor; the terminal and minibuffer place it.
    if (list_window) leaveok(list_window.get(), TRUE);
    if (summary_window) leaveok(summary_window.get(), TRUE);
}

// The top line, the separator with its tee, and the key-help bar.
void layout_draw_frame(const Geometry &g)
{
    int sep_x = g.term_x - 1;
    set_color(stdscr, kAttrFrame);
    wmove(stdscr, 0, 0);
    whline(stdscr, ACS_HLINE, g.cols);

    layout_draw_bar(g.rows - 2, g.cols);

    set_color(stdscr, kAttrFrame);
    wmove(stdscr, 0, sep_x);
    wvline(stdscr, ACS_VLINE, g.rows - 2);
    mvwaddch(stdscr, 0, sep_x, ACS_TTEE);
}

void layout_draw_captions(const Geometry &g)
{
    if (g.cols < kMinCaptionCols) return;
    constexpr char kListCaption[] = "[Machines]";
    // The wall's window starts just right of the list: a caption cut there would be half a word.
    if (g_wall && 2 + static_cast<int>(sizeof kListCaption - 1) > layout_wall_x()) return;
    layout_caption(2, g.cols, kListCaption);
    if (!g_wall) layout_caption(g.term_x + 1, g.cols, "[Terminal]");
}

// wclear makes each window's first refresh repaint the whole screen under it, and tells every drawing
// that kept what a window showed to paint it whole.
void layout_clear_panels()
{
    for (WINDOW *win : {list_window.get(), terminal_window.get(), summary_window.get(), minibuf_window.get(),
                        wall_window.get()}) {
        if (!win) continue;
        touchwin(win);
        wclear(win);
    }
}

} // namespace

LayoutSize layout_create(int list_width, int term_width)
{
    g_list_width = list_width;
    g_term_width = term_width;
    Geometry g;
    if (!layout_compute(getmaxy(stdscr), getmaxx(stdscr), g)) layout_fail_width(list_width, getmaxx(stdscr));

    // Another layout is made only on another curses screen, which may reuse the addresses of the
    // windows the earlier one freed: those are let go, never deleted.
    for (WindowPtr *win : {&list_window, &summary_window, &terminal_window, &minibuf_window, &wall_window})
        (void)win->release();
    g_fits = true;
    layout_place(g);

    layout_draw_frame(g);
    wrefresh(stdscr);
    // Sent with the panels at the first update.
    layout_draw_captions(g);
    wnoutrefresh(stdscr);
    layout_clear_panels();
    return {g.panel_rows, g.term_cols};
}

bool layout_resize(LayoutSize *size)
{
    Geometry g;
    g_fits = screen_big_enough() && layout_compute(getmaxy(stdscr), getmaxx(stdscr), g);
    if (!g_fits) return false;
    layout_place(g);
    werase(stdscr);
    layout_draw_frame(g);
    layout_draw_captions(g);
    // Sent with the panels at the next update, and no longer touched: the next key read would
    // otherwise refresh the standard screen alone, over the panels' old places.
    wnoutrefresh(stdscr);
    layout_clear_panels();
    if (size) *size = {g.panel_rows, g.term_cols};
    return true;
}

bool layout_fits()
{
    return g_fits;
}

void layout_draw_notice()
{
    int rows = getmaxy(stdscr);
    int cols = getmaxx(stdscr);
    char now[64], need[64];
    std::snprintf(now, sizeof now, "Terminal too small: %d x %d", cols, rows);
    std::snprintf(need, sizeof need, "quillor needs %d x %d", static_cast<int>(layout_needed_cols()),
                  kScreenMinRows);
    werase(stdscr);
    set_color(stdscr, kAttrText);
    int top = std::max(0, (rows - 2) / 2);
    int line = 0;
    for (const char *text : {now, need}) {
        int len = static_cast<int>(std::strlen(text));
        if (top + line < rows) mvwaddnstr(stdscr, top + line, std::max(0, (cols - len) / 2), text, cols);
        ++line;
    }
    wnoutrefresh(stdscr);
}

bool layout_set_wall(bool on)
{
    if (on == g_wall) return true;
    g_wall = on;
    Geometry g;
    if (on && !layout_compute(getmaxy(stdscr), getmaxx(stdscr), g)) {
        g_wall = false;
        return false;
    }
    layout_resize(nullptr);
    return true;
}

bool layout_wall()
{
    return g_wall;
}

WINDOW *layout_wall_window()
{
    return wall_window.get();
}

WINDOW *layout_list_window()
{
    return list_window.get();
}
WINDOW *layout_summary_window()
{
    return summary_window.get();
}
WINDOW *layout_terminal_window()
{
    return terminal_window.get();
}
WINDOW *layout_minibuf_window()
{
    return minibuf_window.get();
}
