// Counting child exits: the SIGCHLD handler adds, the main loop takes.
#pragma once

// Installs the SIGCHLD handler for the whole run.
void children_install_handler();

// Child exits counted and not yet taken; may be negative after a correction.
int children_pending();

// Takes every counted exit in one indivisible step, leaving the counter at 0; returns what it held.
int children_take();

// Corrects the count for a child reaped elsewhere (the machine-list command, reaped by pclose).
void children_forget_one();

// Reaps every child that has exited and marks its machines dead.
void children_reap();
