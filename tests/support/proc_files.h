// What /proc says about a process: its open files and its children that nobody reaped.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct OpenFile {
    int fd;
    std::string target; // where /proc/<pid>/fd/<fd> points: a path, "socket:[...]", "pipe:[...]" ...
    dev_t dev;          // with ino, what the descriptor refers to, for telling whether two share a file
    ino_t ino;
};

// The open descriptors of a process, in the order of their numbers; empty when it is gone.
std::vector<OpenFile> process_files(pid_t pid);

// Children of `parent` that have ended and were never reaped.
std::vector<pid_t> process_zombies(pid_t parent);
