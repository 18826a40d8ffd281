// Stopping and continuing: while quillor is stopped the user's terminal is as it was before quillor
// started; when quillor continues it takes the terminal again with every mode it set.
#pragma once

// Installs the handlers for SIGTSTP and SIGCONT; after fatal_install_handlers.
void suspend_install_handlers();

// True once after each continue: the caller takes the terminal again (screen_resume) and repaints.
bool suspend_take_resumed();
// True while a continue waits to be taken.
bool suspend_resumed();
