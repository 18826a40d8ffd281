// Making, owning and filling curses windows.
#include "screen/window.h"

WindowPtr window_new(int rows, int cols, int y, int x)
{
    return WindowPtr(newwin(rows, cols, y, x), WindowDeleter{stdscr});
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
