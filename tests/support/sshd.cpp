// The private sshd: keys, configs, starting and stopping the server.
#include "support/sshd.h"
#include "support/proc_files.h"

#include "term/fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kSshd = "/usr/sbin/sshd";
constexpr const char *kSshKeygen = "/usr/bin/ssh-keygen";
// sshd refuses to start without its privilege-separation directory.
constexpr const char *kPrivsepDir = "/run/sshd";
constexpr int kStartAttempts = 5;
constexpr auto kReadyTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPoll = std::chrono::milliseconds(10);

void complain(const std::string &what)
{
    std::fprintf(stderr, "sshd fixture: %s\n", what.c_str());
}

// Paths go unquoted into both configs and into the blank-separated machine name, so a TMPDIR that
// would need quoting is passed over for /tmp.
std::string temp_root()
{
    const char *tmp = std::getenv("TMPDIR");
    if (!tmp || tmp[0] != '/') return "/tmp";
    for (const char *p = tmp; *p; ++p)
        if (std::strchr(" \t\n\"'\\#", *p)) return "/tmp";
    return tmp;
}

std::string user_name()
{
    const passwd *pw = getpwuid(geteuid());
    return pw && pw->pw_name ? pw->pw_name : "root";
}

bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    if (!out) complain("cannot write " + path);
    return static_cast<bool>(out);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A loopback port nobody listens on right now; 0 when none could be had.
int free_port()
{
    Fd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock.valid()) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(sock.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(sock.get(), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

bool port_accepts(int port)
{
    Fd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock.valid()) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return connect(sock.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
}

// Starts argv[0] with stdin and stdout on /dev/null and stderr on err_fd (or ours when -1). The child
// gets none of our other descriptors: a test's pseudo-terminal master held open by the server would
// keep that terminal from ever reporting hang-up.
pid_t spawn(const std::vector<std::string> &args, int err_fd)
{
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    Fd devnull(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!devnull.valid()) return -1;
    const pid_t parent = getpid();

    const pid_t child = fork();
    if (child != 0) return child;

    // Only async-signal-safe calls from here to exec: the test process may have other threads.
    // Its own session keeps a Ctrl-C meant for the test runner from reaching it, and the death
    // signal makes sure a crashed test does not leave a server behind.
    setsid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    dup2(devnull.get(), STDIN_FILENO);
    dup2(devnull.get(), STDOUT_FILENO);
    if (err_fd >= 0) dup2(err_fd, STDERR_FILENO);
    if (close_range(3, ~0U, 0) != 0)
        for (int fd = 3; fd < 1024; ++fd) close(fd);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits up to `limit` for our child to end; true once it has (or is no longer ours to wait for).
bool reap(pid_t pid, Clock::duration limit, int *status = nullptr)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            if (status) *status = st;
            return true;
        }
        if (r < 0 && errno != EINTR) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPoll);
    }
}

bool run(const std::vector<std::string> &args)
{
    const pid_t pid = spawn(args, -1);
    int status = 0;
    if (pid < 0 || !reap(pid, std::chrono::seconds(30), &status) || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        complain(args[0] + " failed");
        return false;
    }
    return true;
}

bool make_key(const std::string &path)
{
    return run({kSshKeygen, "-q", "-t", "ed25519", "-N", "", "-C", "quillor-test", "-f", path});
}

std::string sshd_config(const Sshd &s)
{
    std::string text;
    text += "ListenAddress 127.0.0.1\n";
    text += "Port " + std::to_string(s.port) + "\n";
    text += "HostKey " + s.dir + "/host_key\n";
    text += "AuthorizedKeysFile " + s.dir + "/authorized_keys\n";
    text += "PidFile " + s.dir + "/sshd.pid\n";
    // Temporary directories fail sshd's ownership checks, and nothing here may prompt.
    text += "StrictModes no\n"
            "UsePAM no\n"
            "PermitRootLogin yes\n"
            "PubkeyAuthentication yes\n"
            "PasswordAuthentication no\n"
            "KbdInteractiveAuthentication no\n"
            "UseDNS no\n"
            "PrintMotd no\n"
            "PrintLastLog no\n";
    // Hundreds of machines log in at once, unless a test wants to meet the wall of sshd's default.
    text += "MaxStartups " + s.max_startups + "\n";
    text += "MaxSessions 300\n";
    // An empty home keeps the user's own start-up files (slow, and serialised here) out of every
    // login; a fixed UTF-8 locale keeps remote line editing from mangling non-ASCII text.
    text += "SetEnv HOME=" + s.home + " LANG=C.UTF-8\n";
    text += "LogLevel ERROR\n";
    return text;
}

std::string ssh_config(const Sshd &s, int hosts)
{
    std::string text = "Host";
    for (int i = 1; i <= hosts; ++i) text += " h" + std::to_string(i);
    text += "\n";
    text += "    HostName 127.0.0.1\n";
    text += "    Port " + std::to_string(s.port) + "\n";
    text += "    User " + user_name() + "\n";
    text += "    IdentityFile " + s.dir + "/user_key\n";
    text += "    IdentitiesOnly yes\n"
            "    IdentityAgent none\n"
            "    UserKnownHostsFile /dev/null\n"
            "    GlobalKnownHostsFile /dev/null\n"
            "    StrictHostKeyChecking no\n"
            "    BatchMode yes\n"
            "    LogLevel ERROR\n";
    return text;
}

enum class Launch { Ready, PortTaken, Failed };

// Starts sshd on s.port and waits until it listens. It writes its pid file only once bound, so a
// connect that succeeds before then may have reached some other program that holds the port.
Launch launch(Sshd &s)
{
    const std::string pidfile = s.dir + "/sshd.pid";
    Fd log(open(s.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!log.valid()) {
        complain("cannot create " + s.log);
        return Launch::Failed;
    }
    s.pid = spawn({kSshd, "-D", "-f", s.dir + "/sshd_config", "-E", s.log}, log.get());
    if (s.pid < 0) {
        complain(std::string("fork: ") + std::strerror(errno));
        return Launch::Failed;
    }

    const auto deadline = Clock::now() + kReadyTimeout;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(s.pid, &status, WNOHANG) == s.pid) {
            s.pid = -1;
            const std::string said = read_file(s.log);
            if (said.find("Address already in use") != std::string::npos) return Launch::PortTaken;
            complain("sshd exited at start-up: " + said);
            return Launch::Failed;
        }
        if (std::atoi(read_file(pidfile).c_str()) == s.pid && port_accepts(s.port)) return Launch::Ready;
        std::this_thread::sleep_for(kPoll);
    }
    complain("sshd did not listen on port " + std::to_string(s.port) + " within " +
             std::to_string(std::chrono::seconds(kReadyTimeout).count()) + " s: " + read_file(s.log));
    return Launch::Failed;
}

} // namespace

Sshd::~Sshd()
{
    stop();
}

bool Sshd::start(int hosts)
{
    stop();
    if (hosts < 1) {
        complain("need at least one host alias");
        return false;
    }
    std::string pattern = temp_root() + "/quillor-sshd-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        complain("mkdtemp " + pattern + ": " + std::strerror(errno));
        return false;
    }
    dir = pattern;
    home = dir + "/home";
    config = dir + "/ssh_config";
    log = dir + "/sshd.log";

    if (mkdir(home.c_str(), 0700) != 0) {
        complain("mkdir " + home + ": " + std::strerror(errno));
        stop();
        return false;
    }
    // Not being able to create it is only fatal when sshd says so; as a plain user it is not needed.
    if (mkdir(kPrivsepDir, 0755) != 0 && errno != EEXIST)
        complain(std::string("mkdir ") + kPrivsepDir + ": " + std::strerror(errno));

    if (!make_key(dir + "/host_key") || !make_key(dir + "/user_key") ||
        !write_file(dir + "/authorized_keys", read_file(dir + "/user_key.pub"))) {
        stop();
        return false;
    }

    // Another program may take the free port between our look and sshd's bind: try another one.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        port = free_port();
        if (port == 0) {
            complain(std::string("no free loopback port: ") + std::strerror(errno));
            break;
        }
        if (!write_file(dir + "/sshd_config", sshd_config(*this)) ||
            !write_file(config, ssh_config(*this, hosts)))
            break;
        const Launch result = launch(*this);
        if (result == Launch::Ready) return true;
        if (result == Launch::Failed) break;
    }
    stop();
    return false;
}

void Sshd::stop()
{
    if (pid > 0) {
        // The processes sshd forked, one per connection, run in sessions of their own: ending the
        // listener alone would leave every logged-in shell running.
        for (pid_t kid : process_children(pid)) kill(kid, SIGTERM);
        // The listener reaps them as they go; waiting for that means their shells have had the hang-up
        // by the time stop() returns.
        const auto deadline = Clock::now() + kStopTimeout;
        while (!process_children(pid).empty() && Clock::now() < deadline) std::this_thread::sleep_for(kPoll);
        kill(pid, SIGTERM);
        if (!reap(pid, kStopTimeout)) {
            kill(pid, SIGKILL);
            reap(pid, kStopTimeout);
        }
    }
    if (!dir.empty()) {
        // Shells ending on the hang-up may still be writing their history into the home.
        std::error_code ec;
        for (int tries = 0; tries < 100; ++tries) {
            std::filesystem::remove_all(dir, ec);
            if (!ec) break;
            std::this_thread::sleep_for(kPoll);
        }
        if (ec) complain("cannot remove " + dir + ": " + ec.message());
    }
    dir.clear();
    config.clear();
    home.clear();
    log.clear();
    port = 0;
    pid = -1;
}

std::string Sshd::add_name(int i) const
{
    return "-F " + config + " h" + std::to_string(i);
}
