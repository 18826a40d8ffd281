// The fixed division of the screen: panel windows, the frame and the key-help bar.
#include "screen/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/colors.h"
#include "screen/window.h"

namespace {

// Made once and kept until the process exits.
WindowPtr list_window;
WindowPtr summary_window;
WindowPtr terminal_window;
WindowPtr minibuf_window;

// A narrower summary panel could not show anything useful.
constexpr int kMinSummaryWidth = 3;
// Below this width the captions would crowd the top line.
constexpr int kMinCaptionCols = 91;

// Bytes 1-7 are not shown: each switches to that colour on the bar's blue.
constexpr char kKeyHelp[] =
    "Quillor v" QUILLOR_VERSION
    "  \aF1\a:menu  \6F2/3\a:sel  \3F4\a:tag  \2F5\a:add  \1F6\a:del  \5F7\a:mcast";

// Ends curses first, so the message lands on the user's own screen.
[[noreturn]] void layout_fail_width(int list_width, int cols)
{
    endwin();
    std::fprintf(stderr, "ERROR: list width %d leaves no room for the terminal on a %d-column screen.\n",
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

} // namespace

LayoutSize layout_create(int list_width, int term_width)
{
    int rows = getmaxy(stdscr);
    int cols = getmaxx(stdscr);

    // Wide enough arithmetic that no width given on the command line can overflow it.
    long long wanted_x = static_cast<long long>(cols) - term_width;
    long long term_x_wide = std::max(wanted_x, static_cast<long long>(list_width) + 3);
    if (cols - term_x_wide < 1) layout_fail_width(list_width, cols);
    int term_x = static_cast<int>(term_x_wide);
    int sep_x = term_x - 1;
    int panel_rows = rows - 3;
    int summary_width = term_x - list_width - 3;
    LayoutSize size{panel_rows, cols - term_x};

    // quillor lays out its screen once. Another layout is made only on another curses screen, which may
    // reuse the addresses of the windows the earlier one freed: those are let go, never deleted.
    for (WindowPtr *win : {&list_window, &summary_window, &terminal_window, &minibuf_window})
        (void)win->release();

    list_window = window_new(panel_rows, list_width + 2, 1, 0);
    summary_window =
        summary_width >= kMinSummaryWidth ? window_new(panel_rows, summary_width, 1, list_width + 2) : nullptr;
    terminal_window = window_new(panel_rows, size.cols, 1, term_x);
    minibuf_window = window_new(1, cols, rows - 1, 0);

    set_color(stdscr, kAttrFrame);
    wmove(stdscr, 0, 0);
    whline(stdscr, ACS_HLINE, cols);

    layout_draw_bar(rows - 2, cols);

    set_color(stdscr, kAttrFrame);
    wmove(stdscr, 0, sep_x);
    wvline(stdscr, ACS_VLINE, rows - 2);
    mvwaddch(stdscr, 0, sep_x, ACS_TTEE);

    wrefresh(stdscr);

    // Left for the next refresh of the standard screen, which the main loop's first key read makes.
    if (cols >= kMinCaptionCols) {
        layout_caption(2, cols, "[Machines]");
        layout_caption(sep_x + 2, cols, "[Terminal]");
    }

    // The list and summary never hold the visible cursor; the terminal and minibuffer place it.
    leaveok(list_window.get(), TRUE);
    if (summary_window) leaveok(summary_window.get(), TRUE);

    // wclear makes each window's first refresh repaint the whole screen under it.
    for (WINDOW *win :
         {list_window.get(), terminal_window.get(), summary_window.get(), minibuf_window.get()}) {
        if (!win) continue;
        touchwin(win);
        wclear(win);
    }
    return size;
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
