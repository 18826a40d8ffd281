// F5: adding machines by name, from a file, or from the command in QUILLOR_AT_COMMAND.
#pragma once

#include <curses.h>

#include <string>

// Prompts "Add: " and adds what the user typed, as add_text does.
void add_machines(WINDOW *minibuf_window);

// Adds the machines a text names: one name (split at blanks into ssh's arguments), every name in the
// file "@file", or, with QUILLOR_AT_COMMAND set, every name the command prints for "@arguments".
// Failures are shown in the minibuffer window and wait for a key.
void add_text(WINDOW *minibuf_window, const std::string &text);
