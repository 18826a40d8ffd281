// Curses set-up for the whole run, with the function-key table, the size check and the splash.
#pragma once

#include <curses.h>

// The key code curses reports for the opening bracket of a pasted text.
constexpr int kKeyPasteBegin = KEY_MAX + 3;
// Turns the terminal's bracketed paste off again; for every way out of the program.
constexpr char kScreenPasteOff[] = "\033[?2004l";

// The smallest screen the panels are laid out on.
constexpr int kScreenMinCols = 80;
constexpr int kScreenMinRows = 25;

// Starts curses on the user's terminal and shows the splash unless told not to. On a screen under 80 x 25 it
// ends curses, reports the required size and the size found on standard error and exits with status 1; so
// it does, before writing a byte to the terminal, when standard output is not a terminal, TERM is unset,
// names a terminal with no description or one that cannot move its cursor.
void screen_init(bool splash = true);

// Takes the user's terminal again after quillor was stopped: curses' modes, the alternate screen, keypad
// mode, bracketed paste and the cursor, and a repaint of every cell at the next refresh.
void screen_resume();

// Ends curses and gives the terminal back as it was (bracketed paste off too).
void screen_end();

// Everything screen_init does after curses has started, for a screen made by initscr or newterm.
void screen_setup(bool splash = true);

// The screen curses has now is at least kScreenMinCols x kScreenMinRows.
bool screen_big_enough();
