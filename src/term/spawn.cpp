// Starting a child on a new pseudo-terminal: splitting its command line, its environment, the vfork,
// holding starts back while many machines are added, and the list of children to hang up.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <array>
#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "base/clock.h"
#include "term/vt_internal.h"

extern char **environ;

namespace {

// Children that may still hold a terminal, for tarvik_vt_hangup_all_children (which runs in a signal
// handler and so can only look at lock-free slots).
constexpr size_t kChildSlots = 1024;
std::array<std::atomic<pid_t>, kChildSlots> g_children{};

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

// The screen says why its machine has no child: a terminal that could not be opened or taken.
void show_cannot_start(TarvikVt *vt, int err)
{
    vt_show_message(vt, std::string("quillor: cannot start a terminal: ") + strerror(err));
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
    if (pid > 0 && err == 0) hangup_list_add(pid);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    if (err != 0) {
        // A child that could not take the terminal has already ended: reap it here, as no machine
        // will own its pid.
        if (pid > 0) waitpid(pid, nullptr, 0);
        show_cannot_start(vt, err);
        vt->master.reset();
        vt->pid = -1;
        return -1;
    }
    vt->pid = pid;
    return pid;
}

// Opens a new pseudo-terminal of the screen's size as the screen's master. Only the child opens the
// other side: until then the master reads as empty, and keys written to it wait for the child.
bool open_terminal(TarvikVt *vt)
{
    // Close-on-exec: other children (the next machine's ssh, a machine-list command) must not inherit
    // this master, or the terminal would stay open after this machine's ssh has gone.
    Fd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master.valid() || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
        pty_set_size(master.get(), vt->rows, vt->cols) != 0) {
        show_cannot_start(vt, errno);
        return false;
    }
    vt->master = std::move(master);
    return true;
}

} // namespace

void hangup_list_add(pid_t pid)
{
    for (auto &slot : g_children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) return;
    }
}

void hangup_list_remove(pid_t pid)
{
    if (pid <= 0) return;
    for (auto &slot : g_children) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

pid_t tarvik_vt_forkpty(TarvikVt *vt, const char *command_line)
{
    if (!vt || vt->pid >= 0 || vt->forsaken) return -1;
    std::vector<std::string> args = split_blanks(command_line ? command_line : "");
    if (args.empty()) {
        vt_show_message(vt, "quillor: no command to start");
        return -1;
    }
    if (!open_terminal(vt)) return -1;
    // Behind children still held, so that starts keep the order they were asked in.
    if (g_holding || !g_held.empty()) {
        vt->pid = 0;
        g_held.push_back({vt, std::move(args)});
        return 0;
    }
    std::vector<std::string> env = child_environment();
    std::vector<char *> envp = pointers(env);
    return start_child(vt, args, envp.data());
}

pid_t tarvik_vt_pid(const TarvikVt *vt)
{
    return vt ? vt->pid : -1;
}

void tarvik_vt_hold_children()
{
    g_holding = true;
}

size_t tarvik_vt_release_children(int max_ms, size_t max_count)
{
    g_holding = false;
    if (g_held.empty() || max_count == 0) return 0;
    std::vector<std::string> env = child_environment();
    std::vector<char *> envp = pointers(env);
    long start = clock_now_ms();
    size_t started = 0;
    do {
        HeldStart next = std::move(g_held.front());
        g_held.pop_front();
        start_child(next.vt, next.args, envp.data());
        ++started;
    } while (!g_held.empty() && started < max_count && clock_now_ms() - start < max_ms);
    return started;
}

void spawn_forget_held(TarvikVt *vt)
{
    if (vt->pid != 0) return;
    std::erase_if(g_held, [vt](const HeldStart &h) { return h.vt == vt; });
    vt->pid = -1;
}

size_t tarvik_vt_held_children()
{
    return g_held.size();
}

void tarvik_vt_hangup_all_children()
{
    for (auto &slot : g_children) {
        pid_t pid = slot.load();
        if (pid > 0) kill(pid, SIGHUP);
    }
}
