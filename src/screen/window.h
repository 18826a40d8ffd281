// The one owner of curses windows, for the panels and the popups alike.
#pragma once

#include <curses.h>

#include <memory>

// Deletes a window only while the curses screen it was made on is still the running one: ending a
// screen (delscreen) frees its windows along with it, so deleting one afterwards would free it twice.
struct WindowDeleter {
    const WINDOW *screen = nullptr; // the stdscr of the screen the window belongs to
    void operator()(WINDOW *win) const
    {
        if (stdscr && stdscr == screen) delwin(win);
    }
};
using WindowPtr = std::unique_ptr<WINDOW, WindowDeleter>;

// A window on the running screen; null when curses cannot make it. Assign the result, rather than
// reset() an owner with the bare window, so that the owner learns which screen the window is on.
WindowPtr window_new(int rows, int cols, int y, int x);

// Gives the window the program's background, white on black, which its blanks and erased cells show;
// window_new does this for every window it makes. A null window is ignored.
void window_set_background(WINDOW *win);

// Writes the character into every cell of the window in its current attributes; a null window is
// ignored.
void fill_window(WINDOW *win, chtype ch);
