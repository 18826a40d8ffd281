// Starting a child on a pseudo-terminal, and moving bytes to and from it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "term/vt_internal.h"

extern char **environ;

namespace {

// Children that may still hold a terminal, for tarvik_vt_hangup_all_children (which runs in a signal
// handler and so can only look at lock-free slots).
constexpr size_t kChildSlots = 1024;
std::array<std::atomic<pid_t>, kChildSlots> g_children{};

void children_remember(pid_t pid)
{
    for (auto &slot : g_children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) return;
    }
}

void children_forget(pid_t pid)
{
    if (pid <= 0) return;
    for (auto &slot : g_children) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

// While a batch of machines is being added, their children wait here before they exec: hundreds of
// ssh logins starting at once would take the processor from the program while it is still adding and
// drawing the list. The gate opens one byte per waiting child; end of file means the program ended.
struct StartGate {
    int read_fd = -1;
    int write_fd = -1;
    size_t waiting = 0;
};
StartGate g_gate;

long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

std::vector<std::string> split_blanks(const char *line)
{
    std::vector<std::string> words;
    std::string word;
    for (const char *p = line; *p; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '\n') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(*p);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The parent's environment with TERM set to what the emulator understands.
std::vector<std::string> child_environment()
{
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e)
        if (strncmp(*e, "TERM=", 5) != 0) env.emplace_back(*e);
    env.emplace_back("TERM=xterm-256color");
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (auto &s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void child_exec(char *const argv[], char *const envp[], const char *failure_prefix,
                             int gate_read, int gate_write)
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (gate_read >= 0) {
        // Our copy of the writing end would keep the gate from ever reporting that the program ended.
        close(gate_write);
        char go;
        ssize_t n;
        do
            n = read(gate_read, &go, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) _exit(127);
    }
    // Only the terminal: no master of another machine, no descriptor of the program.
    close_range(3, ~0U, 0);
    execve(argv[0], argv, envp);
    int err = errno;
    const char *reason = strerror(err);
    (void)!write(1, failure_prefix, strlen(failure_prefix));
    (void)!write(1, reason, strlen(reason));
    (void)!write(1, "\r\n", 2);
    _exit(127);
}

} // namespace

pid_t tarvik_vt_forkpty(TarvikVt *vt, const char *command_line)
{
    if (!vt || vt->pid > 0 || vt->forsaken) return -1;
    std::vector<std::string> args = split_blanks(command_line ? command_line : "");
    if (args.empty()) {
        vt_show_message(vt, "quillor: no command to start");
        return -1;
    }
    std::vector<std::string> env = child_environment();
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);
    std::string failure = "quillor: cannot run " + args[0] + ": ";

    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(vt->rows);
    ws.ws_col = static_cast<unsigned short>(vt->cols);
    int master = -1;
    // Signals stay blocked until the child has put back the default handlers: the program's own
    // handlers must never run in the child between fork and exec.
    sigset_t all, old_mask;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &old_mask);
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    int fork_errno = errno;
    if (pid == 0) child_exec(argv.data(), envp.data(), failure.c_str(), g_gate.read_fd, g_gate.write_fd);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    if (pid < 0) {
        vt_show_message(vt, std::string("quillor: cannot start a terminal: ") + strerror(fork_errno));
        return -1;
    }
    if (g_gate.read_fd >= 0) ++g_gate.waiting;

    // Other children (the next machine's ssh, a machine-list command) must not inherit this master, or
    // the terminal would stay open after this machine's ssh has gone.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    vt->master.reset(master);
    vt->pid = pid;
    children_remember(pid);
    return pid;
}

void pty_send(TarvikVt *vt, const char *bytes, size_t len)
{
    if (!vt->master.valid() || len == 0) return;
    vt->out_queue.append(bytes, len);
    pty_flush(vt);
}

void pty_flush(TarvikVt *vt)
{
    while (vt->master.valid() && !vt->out_queue.empty()) {
        ssize_t n = ::write(vt->master.get(), vt->out_queue.data(), vt->out_queue.size());
        if (n > 0) {
            vt->out_queue.erase(0, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EAGAIN: the child is not reading; the rest waits for the next update. Any other error
            // means the terminal is gone and the bytes have nowhere to go.
            if (n < 0 && errno != EAGAIN) vt->out_queue.clear();
            return;
        }
    }
}

void pty_pump(TarvikVt *vt, int max_ms, int wait_ms)
{
    static std::array<char, 65536> buf;
    long start = now_ms();
    while (vt->master.valid()) {
        ssize_t n = ::read(vt->master.get(), buf.data(), buf.size());
        if (n > 0) {
            vt_feed(vt, buf.data(), static_cast<size_t>(n));
            if (now_ms() - start >= max_ms) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            long left = wait_ms - (now_ms() - start);
            if (left <= 0) return;
            pollfd pfd{vt->master.get(), POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) return;
            continue;
        }
        // End of file, or EIO once every holder of the terminal's other side has closed it.
        if (!vt->utf8_tail.empty()) {
            std::string tail;
            tail.swap(vt->utf8_tail);
            vt_write(vt, tail.data(), tail.size());
        }
        children_forget(vt->pid);
        vt->master.reset();
        vt->out_queue.clear();
        return;
    }
}

void pty_close(TarvikVt *vt)
{
    // Closing the master hangs up only a child that already owns the terminal; one still starting
    // (between fork and its terminal set-up) would miss it and live on. A child not yet forsaken has not
    // been reaped, so its pid is still its own.
    if (!vt->forsaken && vt->pid > 0) kill(vt->pid, SIGHUP);
    children_forget(vt->pid);
    vt->master.reset();
    vt->out_queue.clear();
}

void tarvik_vt_forsake_child(TarvikVt *vt)
{
    if (!vt) return;
    if (!vt->forsaken && vt->master.valid()) {
        // The child has exited, but what it wrote last may still be on its way through the terminal;
        // ssh's "Connection refused" or a shell's "logout" must not be lost. Wait briefly for the end.
        pty_pump(vt, 200, 100);
    }
    vt->forsaken = true;
    pty_close(vt);
}

void tarvik_vt_hold_children()
{
    if (g_gate.read_fd >= 0) return;
    int fds[2];
    // Close-on-exec: a command run for the machine list must not hold the gate.
    if (pipe2(fds, O_CLOEXEC) != 0) return; // the children then start at once, as without a gate
    g_gate = {fds[0], fds[1], 0};
}

void tarvik_vt_release_children()
{
    if (g_gate.write_fd < 0) return;
    // Our own reading end is still open, so this write cannot raise SIGPIPE even if every waiting child
    // was killed meanwhile; a pipe holds far more than kMaxMachines bytes.
    std::string go(g_gate.waiting, 'g');
    for (size_t done = 0; done < go.size();) {
        ssize_t n = ::write(g_gate.write_fd, go.data() + done, go.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (!(n < 0 && errno == EINTR))
            break;
    }
    close(g_gate.write_fd);
    close(g_gate.read_fd);
    g_gate = {};
}

void tarvik_vt_hangup_all_children()
{
    for (auto &slot : g_children) {
        pid_t pid = slot.load();
        if (pid > 0) kill(pid, SIGHUP);
    }
}
