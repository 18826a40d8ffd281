#include "support/vt_window.h"

#include "support/vt_text.h"

WindowPtr vt_window_new(int rows, int cols, int y, int x)
{
    return WindowPtr(newwin(rows, cols, y, x), WindowDeleter{stdscr});
}

VtWindow::VtWindow(int rows, int cols, int term_rows, int term_cols, const char *term)
    : curses(term_rows, term_cols, term)
{
    start_color();
    tarvik_colors_init();
    vt.reset(tarvik_vt_create(rows, cols));
    win = vt_window_new(rows, cols, 0, 0);
}

void VtWindow::show(const std::string &bytes, WINDOW *over)
{
    vt_feed_output(vt.get(), bytes);
    tarvik_vt_draw(vt.get(), win.get(), 0, 0);
    wnoutrefresh(win.get());
    if (over) wnoutrefresh(over);
    tarvik_update(curses.output());
    curses.settle(150);
}
