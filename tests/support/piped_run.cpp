// Running a program with its output on pipes, read until both close.
#include "support/piped_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "support/reap.h"

extern char **environ;

PipedRun piped_run(const std::vector<std::string> &argv, const std::vector<std::string> &env, int timeout_ms)
{
    // Made before the fork: the child only duplicates descriptors and execs.
    std::vector<std::string> envs;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string &given : env) replaced = replaced || given.rfind(name, 0) == 0;
        if (!replaced) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char *> cargv, cenv;
    for (const std::string &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    for (std::string &e : envs) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    PipedRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd fds[] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *text[] = {&run.out, &run.err};
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && Clock::now() < end) {
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                text[i]->append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            close(fds[i].fd);
            fds[i].fd = -1; // poll skips it from now on
        }
    }
    for (const pollfd &f : fds)
        if (f.fd >= 0) close(f.fd);
    if (pid < 0) return run;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    int status = reap_child(pid, static_cast<int>(std::max<long long>(0, left)));
    if (status >= 0) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
