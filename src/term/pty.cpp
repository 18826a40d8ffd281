// Starting a child on a pseudo-terminal, and moving bytes to and from it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <array>
#include <atomic>
#include <deque>
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

// While a batch of machines is being added, their terminals are opened at once but their children
// start only when released: hundreds of ssh logins starting together would take the processor from
// the program while it is still adding and drawing the list. Nothing runs before then, so a terminal
// destroyed meanwhile, or the program ending, leaves no child behind. The release goes a slice of time
// at a time, as each start waits for the kernel to load the command (a millisecond or more here).
struct HeldStart {
    TarvikVt *vt;
    std::vector<std::string> args;
};
bool g_holding = false;
std::deque<HeldStart> g_held;

// Smaller reads than this come from interactive output rather than a flood.
constexpr ssize_t kSmallRead = 512;

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

// What a child needs, all prepared by the program: until it execs, a vfork child shares the program's
// memory, so it may not allocate, and writes nothing but its own stack and the set-up error.
struct ChildPlan {
    int master;
    char *const *argv;
    char *const *envp;
    const char *failure_prefix;
    volatile int *setup_errno; // why the terminal could not be made the child's, 0 if it was
};

// In the vfork child: only async-signal-safe calls, and it never returns.
[[noreturn]] void child_run(const ChildPlan &plan)
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // A session of its own with this terminal as its controlling terminal, so that the terminal's
    // hang-up reaches the command and ssh can ask for a password on it.
    int slave = -1;
    if (setsid() < 0 || (slave = ioctl(plan.master, TIOCGPTPEER, O_RDWR | O_NOCTTY)) < 0 ||
        ioctl(slave, TIOCSCTTY, 0) < 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0 || dup2(slave, 2) < 0) {
        *plan.setup_errno = errno;
        _exit(127);
    }
    // Only the terminal: no master of another machine, no descriptor of the program.
    close_range(3, ~0U, 0);
    execve(plan.argv[0], plan.argv, plan.envp);
    // Unlike strerror, this neither allocates nor reads the locale.
    const char *reason = strerrordesc_np(errno);
    if (!reason) reason = "unknown error";
    (void)!write(1, plan.failure_prefix, strlen(plan.failure_prefix));
    (void)!write(1, reason, strlen(reason));
    (void)!write(1, "\r\n", 2);
    _exit(127);
}

// Apart from its caller and never inlined, so that nothing of the caller's frame is live across
// vfork's two returns.
[[gnu::noinline]] pid_t vfork_child(const ChildPlan &plan)
{
    pid_t pid = vfork();
    if (pid == 0) child_run(plan);
    return pid;
}

// Starts the command on the screen's open terminal; the program waits until the child has exec'd or
// given up. vfork because fork would copy the page tables of a program holding hundreds of screens,
// milliseconds a child, and make the program fault on each page it writes while children share them.
pid_t start_child(TarvikVt *vt, std::vector<std::string> &args, char *const *envp)
{
    std::vector<char *> argv = pointers(args);
    std::string failure = "quillor: cannot run " + args[0] + ": ";
    volatile int setup_errno = 0;
    ChildPlan plan{vt->master.get(), argv.data(), envp, failure.c_str(), &setup_errno};
    // Signals stay blocked until the child has put back the default handlers: the program's own
    // handlers must never run in the child, least of all on memory it shares with the program.
    sigset_t all, old_mask;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &old_mask);
    pid_t pid = vfork_child(plan);
    int err = pid < 0 ? errno : setup_errno;
    // Remembered before any handler can run, so that a fatal signal's hang-up reaches it too.
    if (pid > 0 && err == 0) children_remember(pid);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    if (err != 0) {
        // A child that could not take the terminal has already ended: reap it here, as no machine
        // will own its pid.
        if (pid > 0) waitpid(pid, nullptr, 0);
        vt_show_message(vt, std::string("quillor: cannot start a terminal: ") + strerror(err));
        vt->master.reset();
        vt->pid = -1;
        return -1;
    }
    vt->pid = pid;
    return pid;
}

// Opens a new pseudo-terminal of the screen's size as the screen's master. Only the child opens the
// other side: until then the master reads as empty, and keys written to it wait for the child.
bool pty_open(TarvikVt *vt)
{
    // Close-on-exec: other children (the next machine's ssh, a machine-list command) must not inherit
    // this master, or the terminal would stay open after this machine's ssh has gone.
    Fd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(vt->rows);
    ws.ws_col = static_cast<unsigned short>(vt->cols);
    if (!master.valid() || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
        ioctl(master.get(), TIOCSWINSZ, &ws) != 0) {
        vt_show_message(vt, std::string("quillor: cannot start a terminal: ") + strerror(errno));
        return false;
    }
    vt->master = std::move(master);
    return true;
}

} // namespace

pid_t tarvik_vt_forkpty(TarvikVt *vt, const char *command_line)
{
    if (!vt || vt->pid >= 0 || vt->forsaken) return -1;
    std::vector<std::string> args = split_blanks(command_line ? command_line : "");
    if (args.empty()) {
        vt_show_message(vt, "quillor: no command to start");
        return -1;
    }
    if (!pty_open(vt)) return -1;
    if (g_holding) {
        vt->pid = 0;
        g_held.push_back({vt, std::move(args)});
        return 0;
    }
    std::vector<std::string> env = child_environment();
    std::vector<char *> envp = pointers(env);
    return start_child(vt, args, envp.data());
}

pid_t tarvik_vt_pid(const TarvikVt *vt) { return vt ? vt->pid : -1; }

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
            // A few bytes (an echo, a prompt) were all there was: asking again would only be told so,
            // a system call per terminal with output every turn; what comes later wakes the main loop.
            // A flood arrives in reads of a few kilobytes, and those go on until the time is up.
            if (n < kSmallRead && wait_ms <= 0) return;
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
    if (vt->pid == 0) {
        // A held child never starts.
        std::erase_if(g_held, [vt](const HeldStart &h) { return h.vt == vt; });
        vt->pid = -1;
    }
    // Closing the master hangs up the terminal's session; the signal also reaches a child that has
    // left that session. A child not yet forsaken has not been reaped, so its pid is still its own.
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

void tarvik_vt_hold_children() { g_holding = true; }

size_t tarvik_vt_release_children(int max_ms)
{
    g_holding = false;
    if (g_held.empty()) return 0;
    std::vector<std::string> env = child_environment();
    std::vector<char *> envp = pointers(env);
    long start = now_ms();
    size_t started = 0;
    do {
        HeldStart next = std::move(g_held.front());
        g_held.pop_front();
        start_child(next.vt, next.args, envp.data());
        ++started;
    } while (!g_held.empty() && now_ms() - start < max_ms);
    return started;
}

size_t tarvik_vt_held_children() { return g_held.size(); }

void tarvik_vt_hangup_all_children()
{
    for (auto &slot : g_children) {
        pid_t pid = slot.load();
        if (pid > 0) kill(pid, SIGHUP);
    }
}
