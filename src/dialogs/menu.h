// The F1 menu and the help popup.
#pragma once

#include <curses.h>

// The window the menu's confirmations and rename prompt use.
void menu_init(WINDOW *minibuf_window);

// Shows the menu, carries out one key's command and closes. True when the user confirmed the quit: the
// caller ends the program.
bool menu_show();

// Shows the help text until a key is pressed; the key is dropped.
void help_show();
