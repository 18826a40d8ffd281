// Waiting for the test's own child processes, with a time-out, so that no test waits for good or leaves
// a child behind.
#pragma once

#include <sys/types.h>

// Waits up to `timeout_ms` for the child to end and reaps it: its wait status, or -1 when it did not end
// in time (it is then killed and reaped).
int reap_child(pid_t pid, int timeout_ms = 5000);

// Reaps every child that has ended, waiting up to `timeout_ms` for the others to end too.
void reap_children(int timeout_ms);
