// Child exits: counted by the SIGCHLD handler, reaped by the wait, each one handed to whoever asked
// for that child.
#pragma once

#include <sys/types.h>

// What is done with a child's exit: its pid and the status waitpid reported.
using ChildExited = void (*)(pid_t pid, int wait_status, void *ctx);

// Installs the SIGCHLD handler for the whole run.
void children_install_handler();

// The next exit of this child goes to `exited`, once.
void children_on_exit(pid_t pid, ChildExited exited, void *ctx);
// The exit of every child nobody asked for goes here (the machines' ssh children).
void children_on_other_exit(ChildExited exited, void *ctx);

// Reaps every child that has exited and hands each exit on; does nothing while none was counted.
void children_reap();
