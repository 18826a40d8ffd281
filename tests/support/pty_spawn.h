// Starting a program on a new pseudo-terminal of a chosen size: for the tests' programs and the
// benchmark's alike.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts argv[0] (a path) with argv and the environment envp on a new pseudo-terminal of rows x cols;
// sets *master to the terminal's master, close-on-exec. The child's pid, or -1 when it could not start.
pid_t pty_spawn(const std::vector<std::string> &argv, int rows, int cols, char *const *envp, int *master);
