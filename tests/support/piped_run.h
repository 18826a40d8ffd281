// A program run without a terminal: standard input from /dev/null, standard output and standard error
// each on a pipe of its own, as when its output goes to a pager, a file or another program.
#pragma once

#include <string>
#include <vector>

struct PipedRun {
    int status = -1; // exit status, 128 + the signal that ended it, or -1 when it did not end in time
    std::string out; // what it wrote to standard output
    std::string err; // what it wrote to standard error
};

// Runs argv[0] (a path) with argv; `env` entries ("NAME=value") are added to, or replace, the test's own
// environment. A program still running after `timeout_ms` is killed.
PipedRun piped_run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                   int timeout_ms = 10000);
