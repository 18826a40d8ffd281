// Making, owning and filling curses windows.
#include "screen/window.h"

#include "term/tarvik.h"

WindowPtr window_new(int rows, int cols, int y, int x)
{
    WindowPtr win(newwin(rows, cols, y, x), WindowDeleter{stdscr});
    if (win) window_set_background(win.get());
    return win;
}

void window_set_background(WINDOW *win)
{
    // Pair 0 may be the user's own colours, which are the machines', not the program's.
    if (win) wbkgd(win, ' ' | COLOR_PAIR(tarvik_color_pair(COLOR_WHITE, COLOR_BLACK)));
}

void fill_window(WINDOW *win, chtype ch)
{
    if (!win) return;
    int rows = getmaxy(win), cols = getmaxx(win);
    for (int row = 0; row < rows; ++row)
        // Cell by cell, so the bottom-right cell is written too without a scroll or wrap.
        for (int col = 0; col < cols; ++col) mvwaddch(win, row, col, ch);
    wmove(win, 0, 0);
}
