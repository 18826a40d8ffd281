// Creating, renaming, restarting and destroying one machine record.
#include "machines/machine.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>

#include "base/clock.h"

namespace {

void keep_line(const TarvikLineCell *cells, int count, bool wrapped, void *user)
{
    history_push(*static_cast<History *>(user), cells, count, wrapped);
}

// A fresh screen with ssh started on it for the machine's connection.
void machine_start(Machine *m, int rows, int cols)
{
    // What the old screen showed (how the last connection ended) stays in the history.
    if (m->term) {
        tarvik_vt_close(m->term.get());
        history_add_screen(m->history, m->term.get());
    }
    m->term.reset(tarvik_vt_create(rows, cols));
    tarvik_vt_set_scrollback(m->term.get(), keep_line, &m->history);
    // No fixed-size command buffer: a name of any length reaches ssh whole.
    std::string command = "/usr/bin/ssh " + m->connection;
    m->pid = tarvik_vt_forkpty(m->term.get(), command.c_str());
    // No child will ever report an exit: show the machine dead at once instead of alive for good.
    m->alive = m->pid >= 0;
    if (m->pid == 0)
        login_queue(m->login);
    else if (m->pid > 0)
        login_start(m->login, tarvik_vt_version(m->term.get()), clock_now_ms());
    else
        login_end(m->login);
}

// The text of the cursor's row from its first column up to the cursor: where a prompt or a question
// leaves the cursor after itself.
std::u32string cursor_line(const TarvikVt *vt)
{
    std::u32string line;
    const int row = tarvik_vt_cursor_row(vt);
    const int end = std::min(tarvik_vt_cursor_col(vt), tarvik_vt_cols(vt));
    for (int col = 0; col < end; ++col) {
        TarvikCell cell = tarvik_vt_cell(vt, row, col);
        if (cell.width > 0) line.push_back(static_cast<char32_t>(cell.ch));
    }
    return line;
}

// How the child ended, in a line short enough for a narrow screen.
std::string exit_note(int wait_status)
{
    if (WIFSIGNALED(wait_status))
        return "[ssh ended by signal " + std::to_string(WTERMSIG(wait_status)) + "]";
    return "[ssh exited with status " + std::to_string(WEXITSTATUS(wait_status)) + "]";
}

} // namespace

Machine *machine_create(const std::string &name, int rows, int cols, int history_lines)
{
    auto *m = new Machine;
    m->name = name;
    m->connection = name;
    history_set_limit(m->history, static_cast<size_t>(std::max(0, history_lines)));
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
    bool was_alive = m->alive;
    m->alive = false;
    login_end(m->login);
    // Never waits: the note goes below ssh's last words once they are in.
    if (was_alive) tarvik_vt_forsake_child(m->term.get(), exit_note(wait_status).c_str());
}

void machine_restart(Machine *m, int rows, int cols)
{
    if (!m) return;
    machine_start(m, rows, cols);
}

void machine_child_started(Machine *m)
{
    if (!m || m->pid != 0) return;
    m->pid = tarvik_vt_pid(m->term.get());
    if (m->pid > 0) {
        login_start(m->login, tarvik_vt_version(m->term.get()), clock_now_ms());
    } else if (m->pid < 0) {
        m->alive = false;
        login_end(m->login);
    }
}

void machine_follow_login(Machine *m, long now_ms)
{
    if (!m) return;
    const TarvikVt *vt = m->term.get();
    const unsigned long version = tarvik_vt_version(vt);
    if (version != m->login.seen) login_see(m->login, version, prompts_look(cursor_line(vt)), now_ms);
    login_tick(m->login, now_ms);
}
