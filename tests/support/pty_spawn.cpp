#include "support/pty_spawn.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

pid_t pty_spawn(const std::vector<std::string> &argv, int rows, int cols, char *const *envp, int *master)
{
    std::vector<char *> cargv;
    for (const auto &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    pid_t pid = forkpty(master, nullptr, nullptr, &ws);
    if (pid == 0) {
        execve(cargv[0], cargv.data(), envp);
        _exit(127);
    }
    if (pid > 0) fcntl(*master, F_SETFD, FD_CLOEXEC);
    return pid;
}
