// One self-pipe through which signal handlers wake the program's wait: a signal that comes between a
// look at what it set and the start of the wait still wakes it.
#pragma once

// Makes the pipe; once, before any handler that wakes through it is installed.
void signal_wake_init();
// Readable after signal_wake until signal_wake_drain: for poll.
int signal_wake_fd();
// Async-signal-safe: for handlers, after they have set what they set.
void signal_wake();
// Empties the pipe; afterwards, look at what the handlers set.
void signal_wake_drain();
