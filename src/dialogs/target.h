// The menu's commands that name machines: tagging by pattern, going to a machine by name, typing each
// machine its own name, and one line for the selected machine alone.
#pragma once

#include <curses.h>

// Asks "Tag matching: " and tags every machine whose list name matches, or untags them for a pattern
// with a leading "!" or "-". The bottom line says how many ("12 tagged") or "no machine matches".
void target_tag_prompt(WINDOW *minibuf);

// Asks "Go to: " and selects the first machine after the selected one, round the list, whose name
// matches (does not match, with a leading "!" or "-"), scrolling it into view; Enter alone looks again
// with the pattern before. "no machine matches" when none does.
void target_goto_prompt(WINDOW *minibuf);

// Types into every machine that keys go to now its own list name, or with `host` the host its connection
// goes to, as if the user typed it: nothing in a typed text is ever expanded.
void target_send_names(bool host);

// Asks "To <name>: " for the selected machine and sends it the line and a carriage return, whatever the
// mode: in multicast no other machine sees it.
void target_line_prompt(WINDOW *minibuf);
