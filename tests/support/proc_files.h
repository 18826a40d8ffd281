// What /proc says about processes: their state and parent, children, open files.
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

// The command name, state and parent of a process, from /proc/<pid>/stat; false when it does not exist.
// Any of the outputs may be null.
bool process_stat(pid_t pid, std::string *comm, char *state, pid_t *ppid);

// Processes whose parent is `parent` and that have not ended.
std::vector<pid_t> process_children(pid_t parent);

// Children of `parent` that have ended and were never reaped.
std::vector<pid_t> process_zombies(pid_t parent);
