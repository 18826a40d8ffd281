// Waiting on many descriptors at once, as ppoll(2) does, with the set kept in the kernel between calls:
// a wait on 256 machines' terminals costs what a wait on one does, where ppoll looks at every terminal
// twice a call (to sleep on it, and to see what woke).
#pragma once

#include <poll.h>
#include <signal.h>

#include <vector>

// Waits as ppoll(fds, timeout_ms, mask) would (timeout_ms < 0: no limit) and fills in each entry's
// revents. The same descriptor may stand in several entries; entries with fd < 0 are skipped. Returns
// the number of entries with something to report, 0 on a time-out, -1 with errno set when interrupted.
int poller_wait(std::vector<pollfd> &fds, int timeout_ms, const sigset_t *mask);
