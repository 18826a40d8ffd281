// Counting child exits: the SIGCHLD handler adds, the main loop takes.
#pragma once

// Installs the SIGCHLD handler for the whole run.
void children_install_handler();

// Child exits counted and not yet taken.
int children_pending();

// Takes every counted exit in one indivisible step, leaving the counter at 0; returns what it held.
int children_take();

// Reaps every child that has exited: the machine-list command's goes to the add flow, the others mark
// their machines dead.
void children_reap();
