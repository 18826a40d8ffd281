// One remote machine: its name, the user's tag, whether its ssh still runs, and its terminal.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "machines/answer.h"
#include "machines/history.h"
#include "machines/logins.h"
#include "term/tarvik.h"

// What the compare module (compare.cpp, the only one that writes it) keeps of a machine: its answer to
// the last command sent in multicast.
struct MachineAnswer {
    bool answering = false; // it received that command
    bool odd = false;       // its answer is outside the largest group of equal answers
    uint64_t mark = 0;      // where the answer starts, as history_mark gave it
    AnswerCache cache;
};

// Each field is written by one module only: the name, the connection, `alive` and the terminal by
// machine.cpp, `tagged` by the machine list, `answer` by the compare module.
struct Machine {
    std::string name;
    std::string connection; // the name it was added by: what ssh is given, whatever a rename shows
    bool tagged = false;
    bool alive = true;
    // Before the terminal, which writes into it to its end and so must go first.
    History history;
    std::unique_ptr<TarvikVt, TarvikVtDeleter> term;
    pid_t pid = -1; // 0 while its start is held: see machine_child_started
    Login login;    // from the start of its ssh to its shell: written by logins.cpp's functions alone
    MachineAnswer answer;
};

// A new machine whose terminal of rows x cols runs "/usr/bin/ssh <name>" (the name split at blanks
// into ssh's arguments, never through a shell), keeping up to `history_lines` lines that scroll away.
Machine *machine_create(const std::string &name, int rows, int cols,
                        int history_lines = kDefaultHistoryLines);

// Releases the record and its terminal; a child still running is hung up, not waited for.
void machine_destroy(Machine *m);

// Changes the displayed name only; the connection is untouched.
void machine_rename(Machine *m, const std::string &name);

// Marks the machine dead after its child ended with the wait status given, and says how on its screen.
void machine_exited(Machine *m, int wait_status);

// Starts the machine's connection again on a fresh screen of rows x cols; its name and tag stay.
void machine_restart(Machine *m, int rows, int cols);

// After the terminal layer released a held start: the machine takes its child's pid, or is dead when
// its child could not be started. Does nothing for a machine whose start was not held.
void machine_child_started(Machine *m);
// Looks at what its screen shows now, for its login (see logins.h): after its output was read, and
// when time alone may have changed its login.
void machine_follow_login(Machine *m, long now_ms);
