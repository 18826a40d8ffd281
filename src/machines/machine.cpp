// Creating, renaming and destroying one machine record.
#include "machines/machine.h"

Machine *machine_create(const std::string &name, int rows, int cols)
{
    auto *m = new Machine;
    m->name = name;
    m->term.reset(tarvik_vt_create(rows, cols));
    // No fixed-size command buffer: a name of any length reaches ssh whole.
    std::string command = "/usr/bin/ssh " + name;
    m->pid = tarvik_vt_forkpty(m->term.get(), command.c_str());
    // No child will ever report an exit: show the machine dead at once instead of alive for good.
    if (m->pid < 0) m->alive = 0;
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
