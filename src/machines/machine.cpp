// Creating, renaming, restarting and destroying one machine record.
#include "machines/machine.h"

#include <signal.h>
#include <sys/wait.h>

namespace
{

// A fresh screen with ssh started on it for the machine's connection.
void machine_start(Machine *m, int rows, int cols)
{
    m->term.reset(tarvik_vt_create(rows, cols));
    // No fixed-size command buffer: a name of any length reaches ssh whole.
    std::string command = "/usr/bin/ssh " + m->connection;
    m->pid = tarvik_vt_forkpty(m->term.get(), command.c_str());
    // No child will ever report an exit: show the machine dead at once instead of alive for good.
    m->alive = m->pid < 0 ? 0 : 1;
}

// How the child ended, in a line short enough for a narrow screen.
std::string exit_note(int wait_status)
{
    if (WIFSIGNALED(wait_status))
        return "[ssh ended by signal " + std::to_string(WTERMSIG(wait_status)) + "]";
    return "[ssh exited with status " + std::to_string(WEXITSTATUS(wait_status)) + "]";
}

} // namespace

Machine *machine_create(const std::string &name, int rows, int cols)
{
    auto *m = new Machine;
    m->name = name;
    m->connection = name;
    machine_start(m, rows, cols);
    return m;
}

void machine_destroy(Machine *m)
{
    delete m; // the terminal's owner releases it, which hangs up a child still running
}

void machine_rename(Machine *m, const std::string &name)
{
    if (!m) return;
    m->name = name;
}

void machine_exited(Machine *m, int wait_status)
{
    if (!m) return;
    // A dead machine's old pid may come round again for another child: its note is written once.
    bool was_alive = m->alive == 1;
    m->alive = 0;
    tarvik_vt_forsake_child(m->term.get());
    if (was_alive) tarvik_vt_write_note(m->term.get(), exit_note(wait_status).c_str());
}

void machine_restart(Machine *m, int rows, int cols)
{
    if (!m) return;
    machine_start(m, rows, cols);
}
