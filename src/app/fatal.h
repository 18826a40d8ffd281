// Leaving the user's terminal as it was when the program is killed or its terminal goes away.
#pragma once

#include <signal.h>

// Remembers the terminal's modes; call before curses starts.
void fatal_save_terminal();

// Installs, for every signal that would end the process, a handler that restores the terminal, hangs up
// the ssh children and ends the process by the same signal; call after curses has started.
void fatal_install_handlers();

// Writes what gives the user's terminal back as it was before curses started (its modes, the normal
// screen, the cursor, bracketed paste off). Async-signal-safe; after fatal_install_handlers.
void fatal_give_back_terminal();

// The signals those handlers take that can be held back (blocked): all but a fault's own.
void fatal_asynchronous_signals(sigset_t *set);

// The same, from the main loop: for when the terminal is gone without a signal.
[[noreturn]] void fatal_exit(int sig);
