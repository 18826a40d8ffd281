// F5: adding machines by name, from a file, or from the command in QUILLOR_AT_COMMAND.
#pragma once

#include <curses.h>

void add_machines(WINDOW *minibuf_window);
