// Leaving the user's terminal as it was when the program is killed or its terminal goes away.
#pragma once

// Remembers the terminal's modes; call before curses starts.
void fatal_save_terminal();

// Installs handlers for SIGTERM, SIGHUP and SIGINT that restore the terminal, hang up the ssh children and
// end the process by the same signal; call after curses has started.
void fatal_install_handlers();

// The same, from the main loop: for when the terminal is gone without a signal.
[[noreturn]] void fatal_exit(int sig);
