// Curses set-up for the whole run, with the function-key table, the size check and the splash.
#pragma once

// Starts curses on the user's terminal and shows the splash unless told not to. On a screen under
// 80 x 25 it ends curses, reports the required size on standard error and exits with status 1.
void screen_init(bool splash = true);

// Everything screen_init does after curses has started, for a screen made by initscr or newterm.
void screen_setup(bool splash = true);
