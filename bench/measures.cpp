// Driving quillor, tmux and bare ssh through the same remote shells, and timing what they draw.
#include "measures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "procs.h"
#include "pty_session.h"
#include "stats.h"
#include "support/proc_files.h"

namespace {

// Keys typed on one line before it is cleared with Ctrl-U; short enough for the narrowest pane.
constexpr int kGroup = 25;
constexpr int kMinGapMs = 20;
constexpr int kMaxGapMs = 60;
constexpr int kEchoTimeoutMs = 3000;
// Sets a short prompt the measurements can find, and shows a text only the remote shell computes.
constexpr char kReady[] = "PS1='> '; echo READY_$((6*7))\r";
constexpr char kReadyMark[] = "READY_42";
// The marker is lower-case letters so that no screen update can share a cell with the digits above it
// and leave part of it unsent.
constexpr char kSeq[] = "seq 1 2000000; echo QUILLDONE | tr A-Z a-z\r";
constexpr char kSeqMark[] = "quilldone";
// 50,000 bytes of text pasted into a remote that reads exactly that much; its answer is in the next
// prompt, so that it shows on quillor's summary lines too. The pasted text has no digits.
constexpr int kPasteBytes = 50000;
constexpr char kPasteCmd[] = "n=$(head -c 50000 | wc -c); PS1=\"got$n> \"\r";
constexpr char kPasteMark[] = "got50000> ";
const std::string kPasteOpen = "\x1b[200~", kPasteClose = "\x1b[201~";
// Text typed without paste brackets (a terminal without bracketed paste, a typing tool, a barcode
// reader) reaches the program in writes of this size.
constexpr size_t kTypedWrite = 4096;
// The remote's own time for seq, in ms, in a form the command line itself does not show.
constexpr char kTimedSeq[] =
    "s=$(date +%s%N); seq 1 300000; e=$(date +%s%N); echo took $(( (e - s) / 1000000 ))ms\r";
constexpr char kCtrlU[] = "\x15";
constexpr char kTmux[] = "/usr/bin/tmux";
// tmux refuses a command line of more than about 16 KB ("command too long"): commands for many windows
// are chained in clients of this many.
constexpr int kPanesPerClient = 64;
constexpr char kSsh[] = "/usr/bin/ssh";
const std::string kF1 = "\x1bOP", kF5 = "\x1b[15~", kF7 = "\x1b[18~";
// quillor's geometry with its default list width of 8.
constexpr int kListCols = 10;

void complain(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::fputs("bench: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
}

int run_quiet(const std::string &cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string capture(const std::string &cmd)
{
    std::string out;
    if (FILE *f = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        pclose(f);
    }
    return out;
}

// One program under measurement; a tmux server it uses is ended with it.
struct Program {
    std::unique_ptr<PtySession> s;
    std::string tmux_socket;
    Program() = default;
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    ~Program()
    {
        if (!tmux_socket.empty()) run_quiet(std::string(kTmux) + " -L " + tmux_socket + " kill-server");
        s.reset();
    }
    std::string tmux(const std::string &args) const
    {
        return std::string(kTmux) + " -L " + tmux_socket + " -f /dev/null " + args;
    }
};

std::string new_socket(Bench &b)
{
    return "quillor-bench-" + std::to_string(getpid()) + "-" + std::to_string(++b.serial);
}

// Waits until no remote shell of the server is left, so the next measurement starts on a quiet machine.
void wait_remote_gone(const Bench &b)
{
    auto end = Clock::now() + std::chrono::seconds(20);
    while (proc_count_descendants(b.sshd_pid, "bash") > 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Declared before the program it guards, so that it waits once that program has ended.
struct QuietAfterwards {
    const Bench &b;
    ~QuietAfterwards() { wait_remote_gone(b); }
};

// Keeps the program's output flowing until n remote shells run.
bool wait_logins(const Bench &b, PtySession &s, int n, int timeout_s)
{
    auto end = Clock::now() + std::chrono::seconds(timeout_s);
    while (Clock::now() < end) {
        if (proc_count_descendants(b.sshd_pid, "bash") >= n) return true;
        s.idle(200);
    }
    complain("only %d of %d logins after %d s", proc_count_descendants(b.sshd_pid, "bash"), n, timeout_s);
    return false;
}

bool quillor_start(const Bench &b, Program &p, int rows, int cols)
{
    p.s = std::make_unique<PtySession>(std::vector<std::string>{b.quillor}, rows, cols);
    if (!p.s->started() || !p.s->wait_text("Quillor v0.3.0", 10000)) {
        complain("quillor showed no splash");
        return false;
    }
    p.s->send(" ");
    if (!p.s->wait_for(
            [&](const ScreenReader &s) { return s.row_text(rows - 2).find("F7:mcast") != std::string::npos; },
            10000)) {
        complain("quillor showed no key-help bar");
        return false;
    }
    return true;
}

// F5 and the name, without the Enter.
bool quillor_type_add(Program &p, const std::string &name)
{
    int last = p.s->screen().rows() - 1;
    p.s->send(kF5);
    if (!p.s->wait_for([&](const ScreenReader &s) { return s.row_text(last).rfind("Add: ", 0) == 0; },
                       5000)) {
        complain("quillor showed no Add: prompt");
        return false;
    }
    p.s->send(name);
    p.s->settle(50, 1000);
    return true;
}

// Whether quillor's list shows machine i.
bool quillor_has_row(const ScreenReader &s, int i)
{
    return screen_cells(s, i + 1, 0, kListCols).find_first_not_of(' ') != std::string::npos;
}

// Column of the last character before the cursor in each summary line.
int quillor_summary_col(int cols)
{
    int term_x = std::max(cols - 80, kListCols + 1);
    int summary_width = term_x - kListCols - 1;
    return kListCols + summary_width - 3;
}

// Times `what` occurs in `text`.
int count_of(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string cell_text(char c)
{
    return std::string(1, c);
}

int64_t cpu_of(const std::vector<pid_t> &pids)
{
    int64_t sum = 0;
    for (pid_t pid : pids) sum += std::max<int64_t>(0, proc_cpu_ns(pid));
    return sum;
}

// The processes that do a target's work: quillor itself, tmux's client and server, ssh itself.
std::vector<pid_t> working_pids(const Program &p)
{
    std::vector<pid_t> pids{p.s->pid()};
    if (!p.tmux_socket.empty())
        pids.push_back(static_cast<pid_t>(std::atoi(capture(p.tmux("display -p '#{pid}'")).c_str())));
    return pids;
}

// Starts the target logged into h1 on a terminal of rows x cols (quillor: added with F5, selected),
// its remote shell showing the short prompt.
bool start_single(Bench &b, Target t, Program &p, int rows, int cols)
{
    switch (t) {
    case Target::Quillor:
        if (!quillor_start(b, p, rows, cols) || !quillor_type_add(p, "h1")) return false;
        p.s->send("\r");
        break;
    case Target::Tmux:
        p.tmux_socket = new_socket(b);
        p.s = std::make_unique<PtySession>(std::vector<std::string>{kTmux, "-L", p.tmux_socket, "-f",
                                                                    "/dev/null", "new-session",
                                                                    std::string(kSsh) + " h1"},
                                           rows, cols);
        break;
    case Target::Ssh:
        p.s = std::make_unique<PtySession>(std::vector<std::string>{kSsh, "h1"}, rows, cols);
        break;
    }
    p.s->send(kReady);
    if (!p.s->wait_text(kReadyMark, 30000)) {
        complain("%s: the remote shell did not answer:\n%s", target_name(t),
                 p.s->screen().all_text().c_str());
        return false;
    }
    p.s->settle(100, 2000);
    return true;
}

// The last character before the cursor on each of quillor's summary lines is the prompt's space.
bool quillor_summaries_idle(const ScreenReader &s, int machines, int sc)
{
    for (int i = 0; i < machines; ++i)
        if (s.cell(i + 1, sc).text != " " || s.cell(i + 1, sc - 1).text != ">") return false;
    return true;
}

// Starts the target logged into h1..h<machines> on a terminal of rows x cols, typing into all of them
// at once, every remote shell showing the short prompt. quillor: added from a file, all tagged (F1 T),
// multicast (F7). tmux: one pane per machine, tiled in one window, with synchronize-panes on.
bool start_multicast(Bench &b, Target t, Program &p, int machines, int rows, int cols)
{
    if (t == Target::Quillor) {
        if (!quillor_start(b, p, rows, cols) || !quillor_type_add(p, "@" + bench_hosts_file(b, machines)))
            return false;
        p.s->send("\r");
        if (!p.s->wait_for([&](const ScreenReader &s) { return quillor_has_row(s, machines - 1); }, 10000)) {
            complain("quillor did not list %d machines", machines);
            return false;
        }
        if (!wait_logins(b, *p.s, machines, 60)) return false;
        p.s->settle(200, 3000);
        p.s->send(kF1);
        if (!p.s->wait_text("Select an option", 5000)) {
            complain("quillor showed no menu");
            return false;
        }
        p.s->send("T"); // tag every machine
        p.s->settle(100, 2000);
        p.s->send(kF7);
        if (!p.s->wait_text("MULTICAST", 5000)) {
            complain("quillor did not enter multicast mode");
            return false;
        }
        p.s->send(kReady);
        const int sc = quillor_summary_col(cols);
        if (!p.s->wait_for([&](const ScreenReader &s) { return quillor_summaries_idle(s, machines, sc); },
                           30000)) {
            complain("quillor: not every remote shell answered:\n%s", p.s->screen().all_text().c_str());
            return false;
        }
        return true;
    }
    p.tmux_socket = new_socket(b);
    run_quiet(p.tmux("new-session -d -s fan -x " + std::to_string(cols) + " -y " + std::to_string(rows - 1) +
                     " '" + std::string(kSsh) + " h1'"));
    for (int i = 2; i <= machines; ++i)
        run_quiet(p.tmux("split-window -t fan '" + std::string(kSsh) + " h" + std::to_string(i) +
                         "' \\; select-layout -t fan tiled"));
    run_quiet(p.tmux("set-window-option -t fan synchronize-panes on"));
    p.s = std::make_unique<PtySession>(
        std::vector<std::string>{kTmux, "-L", p.tmux_socket, "-f", "/dev/null", "attach", "-t", "fan"}, rows,
        cols);
    if (!wait_logins(b, *p.s, machines, 60)) return false;
    p.s->settle(200, 3000);
    p.s->send(kReady);
    if (!p.s->wait_for([&](const ScreenReader &s) { return count_of(s.all_text(), kReadyMark) >= machines; },
                       30000)) {
        complain("tmux: not every remote shell answered:\n%s", p.s->screen().all_text().c_str());
        return false;
    }
    return true;
}

// Types b.keys random letters at random gaps, clearing the line with Ctrl-U every kGroup keys. Before
// each group `begin_group` waits for the cleared line; `echoed(c, k)` tells when the k-th key of the
// group, c, is drawn. The delay of each key in ms; empty when an echo never came.
std::vector<double>
type_and_time(const Bench &b, PtySession &s, unsigned seed, const std::function<bool()> &begin_group,
              const std::function<std::function<bool(const ScreenReader &)>(char, int)> &echoed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> gap(kMinGapMs, kMaxGapMs);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::vector<double> delays;
    char prev = 0;
    auto next_send = Clock::now();
    for (int i = 0; i < b.keys; ++i) {
        int k = i % kGroup;
        if (k == 0) {
            if (i > 0) s.send(kCtrlU);
            if (!begin_group()) return {};
            prev = 0;
        }
        while (Clock::now() < next_send) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next_send - Clock::now()).count();
            s.pump(static_cast<int>(std::max<long>(left, 0)));
        }
        // A key unlike the one before, so that a check on a fixed cell cannot succeed early.
        char c;
        do c = static_cast<char>(letter(rng));
        while (c == prev);
        prev = c;
        auto pred = echoed(c, k);
        auto sent = Clock::now();
        s.send(std::string_view(&c, 1));
        auto drawn = s.wait_for(pred, kEchoTimeoutMs);
        if (!drawn) {
            complain("the echo of key %d never showed:\n%s", i, s.screen().all_text().c_str());
            return {};
        }
        delays.push_back(ms_between(sent, *drawn));
        next_send = sent + std::chrono::milliseconds(gap(rng));
    }
    return delays;
}

} // namespace

const char *target_name(Target t)
{
    switch (t) {
    case Target::Quillor: return "quillor";
    case Target::Tmux: return "tmux";
    case Target::Ssh: return "ssh";
    }
    return "?";
}

std::string bench_hosts_file(const Bench &b, int n)
{
    std::string path = b.dir + "/hosts" + std::to_string(n);
    std::ofstream out(path);
    for (int i = 1; i <= n; ++i) out << "h" << i << "\n";
    return path;
}

SingleRun measure_single(Bench &b, Target t, unsigned seed, bool echo, bool seq)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 30, cols = 100;
    SingleRun result;
    {
        Program p;
        if (!start_single(b, t, p, rows, cols)) return result;
        PtySession &s = *p.s;

        int r0 = -1, c0 = -1;
        auto begin_group = [&] {
            if (r0 >= 0 && !s.wait_for(
                               [&](const ScreenReader &sc) {
                                   return sc.cursor_row() == r0 && sc.cursor_col() == c0 &&
                                          sc.cell(r0, c0).text == " ";
                               },
                               kEchoTimeoutMs)) {
                complain("%s: the line was not cleared", target_name(t));
                return false;
            }
            s.settle(30, 1000);
            r0 = s.screen().cursor_row();
            c0 = s.screen().cursor_col();
            return true;
        };
        auto echoed = [&](char c, int k) {
            return [=](const ScreenReader &sc) { return sc.cell(r0, c0 + k).text == cell_text(c); };
        };
        if (echo) {
            std::vector<pid_t> pids = working_pids(p);
            int64_t before = cpu_of(pids);
            result.echo_ms = type_and_time(b, s, seed, begin_group, echoed);
            if (result.echo_ms.empty()) return result;
            result.cpu_us_per_key = static_cast<double>(cpu_of(pids) - before) / 1000.0 / b.keys;
        }
        if (!seq) return result;

        s.send(kCtrlU);
        s.settle(100, 2000);
        std::vector<pid_t> pids = working_pids(p);
        int64_t before = cpu_of(pids);
        auto sent = Clock::now();
        s.send(kSeq);
        if (auto shown = s.wait_raw(kSeqMark, 180000)) {
            result.seq_s = ms_between(sent, *shown) / 1000.0;
            result.seq_cpu_s = static_cast<double>(cpu_of(pids) - before) / 1e9;
        } else
            complain("%s: the end of seq never showed", target_name(t));
    }
    return result;
}

FanoutRun measure_fanout(Bench &b, Target t, unsigned seed)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 50, cols = 200, machines = 16;
    FanoutRun result;
    {
        Program p;
        if (!start_multicast(b, t, p, machines, rows, cols)) return result;
        std::function<bool()> begin_group;
        std::function<std::function<bool(const ScreenReader &)>(char, int)> echoed;
        // quillor: the last character of each machine's summary line.
        const int sc = quillor_summary_col(cols);
        // tmux: where each pane's cursor stood when the group began.
        struct Pane {
            int row, col;
        };
        std::vector<Pane> panes;

        if (t == Target::Quillor) {
            begin_group = [&] {
                if (!p.s->wait_for(
                        [&](const ScreenReader &s) { return quillor_summaries_idle(s, machines, sc); },
                        kEchoTimeoutMs)) {
                    complain("quillor: the lines were not cleared");
                    return false;
                }
                p.s->settle(30, 1000);
                return true;
            };
            echoed = [&](char c, int) {
                return [=](const ScreenReader &s) {
                    for (int i = 0; i < machines; ++i)
                        if (s.cell(i + 1, sc).text != cell_text(c)) return false;
                    return true;
                };
            };
        } else {
            begin_group = [&] {
                auto end = Clock::now() + std::chrono::milliseconds(kEchoTimeoutMs);
                while (Clock::now() < end) {
                    p.s->settle(50, 1000);
                    panes.clear();
                    std::string list = capture(
                        p.tmux("list-panes -t fan -F '#{pane_left} #{pane_top} #{cursor_x} #{cursor_y}'"));
                    bool ready = true;
                    for (size_t at = 0; at < list.size();) {
                        size_t nl = list.find('\n', at);
                        if (nl == std::string::npos) nl = list.size();
                        int left, top, cx, cy;
                        if (std::sscanf(list.substr(at, nl - at).c_str(), "%d %d %d %d", &left, &top, &cx,
                                        &cy) == 4) {
                            panes.push_back({top + cy, left + cx});
                            if (p.s->screen().cell(top + cy, left + cx - 2).text != ">") ready = false;
                        }
                        at = nl + 1;
                    }
                    if (ready && static_cast<int>(panes.size()) == machines) return true;
                }
                complain("tmux: the panes were not cleared:\n%s", p.s->screen().all_text().c_str());
                return false;
            };
            echoed = [&](char c, int k) {
                return [=, &panes](const ScreenReader &s) {
                    for (const Pane &pane : panes)
                        if (s.cell(pane.row, pane.col + k).text != cell_text(c)) return false;
                    return true;
                };
            };
        }
        std::vector<pid_t> pids = working_pids(p);
        int64_t before = cpu_of(pids);
        result.delays_ms = type_and_time(b, *p.s, seed, begin_group, echoed);
        if (!result.delays_ms.empty())
            result.cpu_us_per_key = static_cast<double>(cpu_of(pids) - before) / 1000.0 / b.keys;
    }
    return result;
}

namespace {

// Starts the target with `machines` machines on a 120 x 40 terminal, each in its own tmux window (tmux
// run with the extra settings given first) or added from a file to quillor, and waits until every one
// has logged in. `measured` gets the processes whose CPU and memory count: quillor; tmux's client and
// server.
bool start_windows(Bench &b, Program &p, Target t, int machines, const std::string &tmux_settings,
                   std::vector<pid_t> &measured)
{
    constexpr int rows = 40, cols = 120;
    if (t == Target::Quillor) {
        if (!quillor_start(b, p, rows, cols) || !quillor_type_add(p, "@" + bench_hosts_file(b, machines)))
            return false;
        p.s->send("\r");
        measured.push_back(p.s->pid());
    } else {
        p.tmux_socket = new_socket(b);
        // Settings made before the first window, so that every window has them.
        run_quiet(p.tmux("start-server \\; " + tmux_settings + (tmux_settings.empty() ? "" : " \\; ") +
                         "new-session -d -s many -x 120 -y 39 '" + kSsh + " h1'"));
        std::string more;
        for (int i = 2; i <= machines; ++i)
            more += std::string(i > 2 ? " \\; " : "") + "new-window -t many '" + kSsh + " h" +
                    std::to_string(i) + "'";
        run_quiet(p.tmux(more));
        p.s = std::make_unique<PtySession>(
            std::vector<std::string>{kTmux, "-L", p.tmux_socket, "-f", "/dev/null", "attach", "-t", "many"},
            rows, cols);
        measured.push_back(p.s->pid());
        measured.push_back(static_cast<pid_t>(std::atoi(capture(p.tmux("display -p '#{pid}'")).c_str())));
    }
    // 64 logins take 10 to 20 s here, 256 about 40 s.
    if (!wait_logins(b, *p.s, machines, machines > 64 ? 300 : 120)) return false;
    // Logins finish with a burst of prompts; let it pass.
    p.s->settle(1000, 10000);
    return true;
}

int64_t cpu_ns_of(const std::vector<pid_t> &pids)
{
    int64_t sum = 0;
    for (pid_t pid : pids) sum += std::max<int64_t>(0, proc_cpu_ns(pid));
    return sum;
}

double rss_mib_of(const std::vector<pid_t> &pids)
{
    long rss = 0;
    for (pid_t pid : pids) rss += std::max(0L, proc_rss_kib(pid));
    return static_cast<double>(rss) / 1024.0;
}

// Tags every machine (F1 T) and turns multicast on (F7).
bool quillor_multicast_all(Program &p)
{
    p.s->send(kF1);
    if (!p.s->wait_text("Select an option", 5000)) {
        complain("quillor showed no menu");
        return false;
    }
    p.s->send("T");
    p.s->settle(100, 2000);
    p.s->send(kF7);
    if (!p.s->wait_text("MULTICAST", 5000)) {
        complain("quillor did not enter multicast mode");
        return false;
    }
    return true;
}

// Sends the same keys (send-keys arguments) to windows `first` to machines - 1.
void tmux_send_all(const Program &p, int machines, const std::string &keys, int first = 0)
{
    for (int batch = first; batch < machines; batch += kPanesPerClient) {
        std::string chain;
        for (int i = batch; i < std::min(machines, batch + kPanesPerClient); ++i)
            chain +=
                std::string(i > batch ? " \\; " : "") + "send-keys -t many:" + std::to_string(i) + " " + keys;
        if (run_quiet(p.tmux(chain)) != 0) complain("tmux did not take the keys for windows from %d", batch);
    }
}

// Waits until no machine runs awk any more and the target itself has gone quiet: under 2 % of a core
// over half a second.
bool wait_printed(const Bench &b, Program &p, Target t, const std::vector<pid_t> &measured, int timeout_s)
{
    auto end = Clock::now() + std::chrono::seconds(timeout_s);
    p.s->idle(1000);
    while (proc_count_descendants(b.sshd_pid, "awk") > 0 && Clock::now() < end) p.s->idle(200);
    for (int64_t before = -1; Clock::now() < end;) {
        int64_t now = cpu_ns_of(measured);
        if (before >= 0 && now - before < 10'000'000) return true;
        before = now;
        p.s->idle(500);
    }
    complain("%s: the machines did not finish printing", target_name(t));
    return false;
}

} // namespace

std::optional<IdleRun> measure_idle(Bench &b, Target t)
{
    QuietAfterwards quiet{b};
    std::optional<IdleRun> result;
    {
        Program p;
        std::vector<pid_t> measured;
        if (!start_windows(b, p, t, 64, "", measured)) return result;
        auto wakeups = [&] {
            long sum = 0;
            for (pid_t pid : measured) sum += std::max(0L, proc_wakeups(pid));
            return sum;
        };
        int64_t before = cpu_ns_of(measured);
        long woken_before = wakeups();
        auto from = Clock::now();
        p.s->idle(10000);
        int64_t used = cpu_ns_of(measured) - before;
        long woken = wakeups() - woken_before;
        double wall_ms = ms_between(from, Clock::now());
        result = IdleRun{100.0 * static_cast<double>(used) / 1e6 / wall_ms, rss_mib_of(measured),
                         static_cast<double>(woken) * 1000.0 / wall_ms};
    }
    return result;
}

std::optional<double> measure_live_rss(Bench &b, Target t, int machines)
{
    QuietAfterwards quiet{b};
    Program p;
    std::vector<pid_t> measured;
    if (!start_windows(b, p, t, machines, "", measured)) return std::nullopt;
    return rss_mib_of(measured);
}

std::optional<double> measure_history(Bench &b, Target t)
{
    QuietAfterwards quiet{b};
    std::optional<double> result;
    // 5000 lines of 80 columns, every other one in three colours, then a marker.
    const std::string script = b.dir + "/history-lines";
    std::ofstream(script)
        << "awk 'BEGIN { t = \"the quick brown fox jumps over the lazy dog while the machines keep on \";\n"
           "  for (i = 1; i <= 5000; i++) {\n"
           "    if (i % 2) printf \"%05d %s\\n\", i, substr(t t, i % 20 + 1, 74);\n"
           "    else printf \"%05d \\033[1;31mERROR\\033[0m \\033[32m%s\\033[0m %s\\n\", i,\n"
           "                substr(t t, i % 20 + 1, 30), substr(t t, i % 13 + 1, 37);\n"
           "  } }'\n";
    {
        Program p;
        std::vector<pid_t> measured;
        if (!start_windows(b, p, t, 64, "set -g history-limit 2000", measured)) return result;
        if (t == Target::Quillor) {
            if (!quillor_multicast_all(p)) return result;
            p.s->send("sh " + script + "\r");
        } else {
            tmux_send_all(p, 64, "'sh " + script + "' Enter");
        }
        if (!wait_printed(b, p, t, measured, 300)) return result;
        result = rss_mib_of(measured);
    }
    return result;
}

// Raises the harness above the programs it measures for as long as it lives, so that hundreds of logins
// competing for the processor delay only the program, not the reading of what it drew.
struct HarnessFirst {
    int before = getpriority(PRIO_PROCESS, 0);
    HarnessFirst() { setpriority(PRIO_PROCESS, 0, -10); }
    ~HarnessFirst() { setpriority(PRIO_PROCESS, 0, before); }
};

StartupRun measure_startup(Bench &b)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 40, cols = 120, machines = 256;
    StartupRun result;
    {
        Program p;
        if (!quillor_start(b, p, rows, cols) || !quillor_type_add(p, "@" + bench_hosts_file(b, machines)))
            return result;
        // Adding is one step of the main loop: the list is drawn again only once every machine is in it,
        // so its last visible row appearing means all of them exist.
        const int last_row = rows - 3 - 1;
        HarnessFirst first;
        int64_t cpu_before = proc_cpu_ns(p.s->pid());
        auto sent = Clock::now();
        p.s->send("\r");
        auto shown =
            p.s->wait_for([&](const ScreenReader &s) { return quillor_has_row(s, last_row); }, 120000);
        if (!shown) {
            complain("quillor did not list the machines");
            return result;
        }
        result.add_s = ms_between(sent, *shown) / 1000.0;
        result.add_cpu_s = static_cast<double>(proc_cpu_ns(p.s->pid()) - cpu_before) / 1e9;
        // The logins start after the list has been drawn, a few at a time while quillor goes on serving
        // the screen.
        size_t children = 0;
        auto children_deadline = Clock::now() + std::chrono::seconds(60);
        while ((children = process_children(p.s->pid()).size()) < machines &&
               Clock::now() < children_deadline)
            p.s->idle(5);
        if (children != machines)
            complain("quillor runs %zu ssh children, not %d", children, machines);
        else
            result.children_s = ms_between(sent, Clock::now()) / 1000.0;
        if (wait_logins(b, *p.s, machines, 240)) {
            result.logins_s = ms_between(sent, Clock::now()) / 1000.0;
            p.s->settle(1000, 10000);
            result.rss_mib = static_cast<double>(proc_rss_kib(p.s->pid())) / 1024.0;
        }
    }
    return result;
}

namespace {

// quillor with floods + 1 machines from a file: all tagged, `yes` sent to all in multicast, then back
// in singlecast the selected first machine stopped and its screen cleared.
bool quillor_floods(Bench &b, Program &p, int floods, int rows, int cols)
{
    if (!quillor_start(b, p, rows, cols) || !quillor_type_add(p, "@" + bench_hosts_file(b, floods + 1)))
        return false;
    PtySession &s = *p.s;
    s.send("\r");
    if (!s.wait_for([&](const ScreenReader &sc) { return quillor_has_row(sc, floods); }, 10000)) {
        complain("quillor did not list %d machines", floods + 1);
        return false;
    }
    if (!wait_logins(b, s, floods + 1, 90)) return false;
    s.settle(500, 5000);
    if (!quillor_multicast_all(p)) return false;
    s.send("PS1='> '; yes\r");
    s.idle(1000);
    s.send(kF7);
    if (!s.wait_text("singlecast mode", 10000)) {
        complain("quillor did not leave multicast mode under the floods");
        return false;
    }
    s.send("\x03");
    s.idle(300);
    s.send("\x0c");
    return true;
}

// tmux with a window per machine, `yes` sent to all windows but the first, which is shown and cleared.
// The quiet one is never flooded: stopping it under tmux would leave megabytes of its output still on
// their way, which quillor, reading faster, has taken in by the time its quiet machine is cleared.
bool tmux_floods(Bench &b, Program &p, int floods)
{
    std::vector<pid_t> measured;
    if (!start_windows(b, p, Target::Tmux, floods + 1, "", measured)) return false;
    tmux_send_all(p, floods + 1, "\"PS1='> '\" Enter");
    tmux_send_all(p, floods + 1, "yes Enter", 1);
    // Each new window became the current one; the user is back at the first.
    run_quiet(p.tmux("select-window -t many:0"));
    p.s->idle(1000);
    p.s->send("\x0c");
    return true;
}

} // namespace

FloodRun measure_flood(Bench &b, Target t, unsigned seed)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 40, cols = 120, floods = 20, pastes = 5, paste_len = 100;
    FloodRun result;
    {
        Program p;
        if (!(t == Target::Quillor ? quillor_floods(b, p, floods, rows, cols) : tmux_floods(b, p, floods)))
            return result;
        PtySession &s = *p.s;
        // The row where the quiet machine's screen begins: below quillor's top line, tmux's first.
        const int top = t == Target::Quillor ? 1 : 0;
        // The cleared screen has the prompt alone on its first row.
        auto cleared = [&](const ScreenReader &sc) {
            int r = sc.cursor_row(), c = sc.cursor_col();
            return r == top && c >= 2 && sc.cell(r, c - 2).text == ">" && sc.cell(r, c).text == " " &&
                   sc.cell(r + 1, c - 2).text == " ";
        };
        if (!s.wait_for(cleared, 10000)) {
            complain("%s: the quiet machine was not cleared:\n%s", target_name(t),
                     s.screen().all_text().c_str());
            return result;
        }
        const int r0 = s.screen().cursor_row(), c0 = s.screen().cursor_col();
        const int left = c0 - 2, width = cols - left;
        auto begin_group = [&] {
            if (!s.wait_for(
                    [&](const ScreenReader &sc) {
                        return sc.cursor_row() == r0 && sc.cursor_col() == c0 && sc.cell(r0, c0).text == " ";
                    },
                    kEchoTimeoutMs)) {
                complain("%s: the line was not cleared under the floods", target_name(t));
                return false;
            }
            return true;
        };
        auto echoed = [&](char c, int k) {
            return [=](const ScreenReader &sc) { return sc.cell(r0, c0 + k).text == cell_text(c); };
        };
        Bench few = b;
        few.keys = std::min(b.keys, 50);
        result.echo_ms = type_and_time(few, s, seed, begin_group, echoed);
        if (result.echo_ms.empty()) return result;

        // A paste, as the user's terminal writes it: all at once. The last character's cell tells it
        // has all been drawn; the text wraps in the terminal panel.
        std::string text(paste_len - 1, 'x');
        text += 'Z';
        int last = (c0 - left) + paste_len - 1;
        int row = r0 + last / width, col = left + last % width;
        for (int i = 0; i < pastes; ++i) {
            s.send(kCtrlU);
            if (!begin_group()) return result;
            auto sent = Clock::now();
            s.send(text);
            auto shown =
                s.wait_for([&](const ScreenReader &sc) { return sc.cell(row, col).text == "Z"; }, 60000);
            if (!shown) {
                complain("%s: the paste never showed whole:\n%s", target_name(t),
                         s.screen().all_text().c_str());
                result.paste_s.clear();
                return result;
            }
            result.paste_s.push_back(ms_between(sent, *shown) / 1000.0);
        }
    }
    return result;
}

namespace {

// Lines of 79 letters, each ended with a carriage return as a terminal pastes a line end.
std::string paste_text()
{
    std::string text;
    for (int i = 0; static_cast<int>(text.size()) < kPasteBytes; ++i)
        text += static_cast<int>(text.size()) % 80 == 79 ? '\r' : static_cast<char>('a' + i % 26);
    return text;
}

// Waits until `comm` runs under the sshd `n` times, keeping the program's output flowing.
bool wait_remote(const Bench &b, PtySession &s, const std::string &comm, int n, int timeout_ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (proc_count_descendants(b.sshd_pid, comm) < n) {
        if (Clock::now() >= end) {
            complain("%s did not start on %d machines", comm.c_str(), n);
            return false;
        }
        s.idle(5);
    }
    return true;
}

} // namespace

std::optional<double> measure_paste(Bench &b, Target t, int machines, bool typed)
{
    QuietAfterwards quiet{b};
    const int rows = machines > 1 ? 50 : 30, cols = machines > 1 ? 200 : 100;
    std::optional<double> result;
    {
        Program p;
        if (!(machines > 1 ? start_multicast(b, t, p, machines, rows, cols)
                           : start_single(b, t, p, rows, cols)))
            return result;
        PtySession &s = *p.s;
        s.send(kPasteCmd);
        if (!wait_remote(b, s, "head", machines, 20000)) return result;
        // The remote shell has switched bracketed paste off for head; let that reach the program.
        s.settle(50, 1000);
        // quillor keeps bracketed paste on in its terminal, so a terminal brackets the paste; tmux gets
        // the same bytes. Bare ssh passes on the remote's modes, and head asked for no brackets. Typed
        // text is never bracketed.
        std::string paste = paste_text();
        if (t != Target::Ssh && !typed) paste = kPasteOpen + paste + kPasteClose;
        const int sc = quillor_summary_col(cols);
        auto answered = [&](const ScreenReader &sr) {
            if (t != Target::Quillor || machines == 1) return count_of(sr.all_text(), kPasteMark) >= machines;
            for (int i = 0; i < machines; ++i)
                if (screen_cells(sr, i + 1, kListCols, sc + 1).find(kPasteMark) == std::string::npos)
                    return false;
            return true;
        };
        auto sent = Clock::now();
        if (!typed) s.send(paste);
        // One write after another, reading the program's output between them as a terminal does.
        for (size_t at = 0; typed && at < paste.size(); at += kTypedWrite) {
            s.send(std::string_view(paste).substr(at, kTypedWrite));
            s.pump(0);
        }
        if (auto shown = s.wait_for(answered, 60000))
            result = ms_between(sent, *shown) / 1000.0;
        else
            complain("%s: the %s into %d machines was not answered:\n%s", target_name(t),
                     typed ? "typed text" : "paste", machines, s.screen().all_text().c_str());
    }
    return result;
}

std::optional<double> measure_menu_seq(Bench &b, bool menu)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 30, cols = 100;
    constexpr int kMenuHeldMs = 6000;
    std::optional<double> result;
    {
        Program p;
        if (!start_single(b, Target::Quillor, p, rows, cols)) return result;
        PtySession &s = *p.s;
        s.send(kTimedSeq);
        if (menu) {
            s.send(kF1);
            if (!s.wait_text("Select an option", 5000)) {
                complain("quillor showed no menu");
                return result;
            }
        }
        // Until seq has ended, or (for a program that stops its machines behind the menu) the menu has
        // been open for kMenuHeldMs.
        auto opened = Clock::now();
        bool started = wait_remote(b, s, "seq", 1, 10000);
        while (started && proc_count_descendants(b.sshd_pid, "seq") > 0 &&
               Clock::now() - opened < std::chrono::milliseconds(kMenuHeldMs))
            s.idle(20);
        if (menu) s.send(" "); // not a menu command: closes it
        const std::regex took("took ([0-9]+)ms");
        std::smatch m;
        std::string text;
        if (s.wait_for(
                [&](const ScreenReader &sr) {
                    text = sr.all_text();
                    return std::regex_search(text, m, took);
                },
                60000))
            result = std::atof(m[1].str().c_str()) / 1000.0;
        else
            complain("quillor: seq with%s the menu did not end:\n%s", menu ? "" : "out",
                     s.screen().all_text().c_str());
    }
    return result;
}

namespace {

constexpr int kAnswerLines = 2000;
constexpr char kCompareScript[] = "compare-lines";
constexpr char kPaneEnd[] = "QUILLOR-BENCH-END-OF-PANE";

// The answer to compare: 2000 log lines of 60 to 80 columns, the remote's host name in every fifth.
// Every alias reaches the same host, so the first machine to make the directory named by $1 is the one
// that answers differently, in one line late in its answer.
std::string write_compare_script(const Bench &b)
{
    const std::string path = b.dir + "/" + kCompareScript;
    std::ofstream(path)
        << "if mkdir \"$1\" 2>/dev/null; then odd=1; else odd=0; fi\n"
           "awk -v host=\"$(hostname)\" -v odd=$odd -v n="
        << kAnswerLines
        << " 'BEGIN {\n"
           "  what[0] = \"request served in 12 ms, 2048 bytes, status 200\"\n"
           "  what[1] = \"cache refreshed: 1532 entries, 0 evicted, 3 ms\"\n"
           "  what[2] = \"workers 16 of 32 busy, queue empty, load 0.42\"\n"
           "  what[3] = \"config unchanged since 2026-12-01, sum 9f3a71c2\"\n"
           "  for (k = 0; k < n; k++) {\n"
           "    t = sprintf(\"Dec 09 10:%02d:%02d\", int(k / 60) % 60, k % 60)\n"
           "    if (k % 5 == 0)\n"
           "      printf \"%s %s app[4211]: started job %d on %s, took %d ms\\n\", t, host, k,\n"
           "             host, (odd && k == 1500) ? 13 : 12\n"
           "    else printf \"%s app[4211]: %s\\n\", t, what[k % 4]\n"
           "  } }'\n";
    return path;
}

// What a tmux user's script does with each window's captured text: the lines after the command's, less
// the prompt after them, grouped by equal text. The sizes of the groups, largest first.
std::vector<int> group_captures(const std::vector<std::string> &captures)
{
    std::unordered_map<std::string, int> groups;
    for (const std::string &text : captures) {
        std::vector<std::string_view> lines;
        std::string_view all(text);
        for (size_t from = 0; from < all.size();) {
            size_t nl = all.find('\n', from);
            if (nl == std::string_view::npos) nl = all.size();
            std::string_view line = all.substr(from, nl - from);
            size_t end = line.find_last_not_of(' ');
            lines.push_back(end == std::string_view::npos ? std::string_view{} : line.substr(0, end + 1));
            from = nl + 1;
        }
        size_t first = 0;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(kCompareScript) != std::string_view::npos) first = i + 1;
        size_t last = lines.size();
        while (last > first && lines[last - 1].empty()) --last;
        if (last > first && lines[last - 1] == ">") --last;
        std::string answer;
        for (size_t i = first; i < last; ++i) {
            answer += lines[i];
            answer += '\n';
        }
        ++groups[answer];
    }
    std::vector<int> sizes;
    for (const auto &[answer, n] : groups) sizes.push_back(n);
    std::sort(sizes.rbegin(), sizes.rend());
    return sizes;
}

bool groups_as_sent(const std::vector<int> &sizes, int machines)
{
    return sizes == std::vector<int>{machines - 1, 1};
}

std::string sizes_text(const std::vector<int> &sizes)
{
    std::string text;
    for (int n : sizes) text += (text.empty() ? "" : " ") + std::to_string(n);
    return text;
}

} // namespace

std::map<std::string, std::vector<double>> measure_compare_inprocess(int runs)
{
    std::map<std::string, std::vector<double>> figures;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return figures;
    std::string program(self, static_cast<size_t>(n));
    program = program.substr(0, program.rfind('/') + 1) + "compare_bench";
    // Its summary goes to our standard error as it is; one line per figure comes back on its output.
    std::istringstream out(capture(program + " --runs " + std::to_string(runs)));
    for (std::string line; std::getline(out, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        for (double ms; words >> ms;) figures[name].push_back(ms);
    }
    if (figures.empty()) complain("%s measured nothing", program.c_str());
    return figures;
}

CompareRun measure_compare(Bench &b, Target t, int machines)
{
    QuietAfterwards quiet{b};
    constexpr int rows = 40, cols = 120;
    CompareRun result;
    const std::string command =
        "sh " + write_compare_script(b) + " " + b.dir + "/compare-odd-" + std::to_string(++b.serial) + "\r";
    Program p;
    std::vector<pid_t> measured;
    if (!start_windows(b, p, t, machines, t == Target::Tmux ? "set -g history-limit 2000" : "", measured))
        return result;
    // The prompt is set before the command, so that its line after the answer is the prompt alone.
    if (t == Target::Quillor) {
        if (!quillor_multicast_all(p)) return result;
        p.s->send(kReady);
        p.s->settle(1000, 15000);
        p.s->send(command);
    } else {
        tmux_send_all(p, machines, "\"PS1='> '\" Enter");
        p.s->settle(1000, 15000);
        tmux_send_all(p, machines, "'" + command.substr(0, command.size() - 1) + "' Enter");
    }
    if (!wait_printed(b, p, t, measured, 300)) return result;

    if (t == Target::Quillor) {
        PtySession &s = *p.s;
        // The view's first row is the largest group's header: its size, two blanks, its machines.
        const int term_x = std::max(cols - 80, kListCols + 1);
        const std::regex header("^[0-9]+  h");
        auto sent = Clock::now();
        s.send(kF1);
        if (!s.wait_text("Select an option", 5000)) {
            complain("quillor showed no menu");
            return result;
        }
        auto typed = Clock::now();
        s.send("c");
        auto shown = s.wait_for(
            [&](const ScreenReader &sr) {
                return std::regex_search(screen_cells(sr, 1, term_x, cols), header);
            },
            30000);
        if (!shown) {
            complain("quillor showed no compare view:\n%s", s.screen().all_text().c_str());
            return result;
        }
        const std::string expected = "compare: 2 groups, 0 printing";
        const std::string head = screen_cells(s.screen(), 1, term_x, cols);
        if (!s.wait_for([&](const ScreenReader &sr) { return sr.row_text(rows - 1).rfind(expected, 0) == 0; },
                        5000) ||
            head.rfind(std::to_string(machines - 1) + "  ", 0) != 0) {
            complain("quillor: not the groups sent (header \"%s\"):\n%s", head.c_str(),
                     s.screen().all_text().c_str());
            return result;
        }
        result.first_ms = ms_between(sent, *shown);
        result.second_ms = ms_between(typed, *shown);
        s.send("q");
        s.settle(100, 2000);
        return result;
    }

    // A tmux user asks for each window's last 2000 lines and groups them: with the commands for many
    // windows chained in one client, then in the shell loop a script would write, one client per window.
    auto sent = Clock::now();
    std::vector<std::string> captures;
    const std::string end = std::string(kPaneEnd) + "\n";
    for (int batch = 0; batch < machines; batch += kPanesPerClient) {
        std::string chain;
        for (int i = batch; i < std::min(machines, batch + kPanesPerClient); ++i)
            chain += std::string(i > batch ? " \\; " : "") +
                     "capture-pane -p -S -2000 -t many:" + std::to_string(i) + " \\; display -p " + kPaneEnd;
        std::string text = capture(p.tmux(chain));
        for (size_t from = 0, at; (at = text.find(end, from)) != std::string::npos; from = at + end.size())
            captures.push_back(text.substr(from, at - from));
    }
    std::vector<int> sizes = group_captures(captures);
    double one_client = ms_between(sent, Clock::now());
    if (static_cast<int>(captures.size()) != machines || !groups_as_sent(sizes, machines)) {
        complain("tmux: %zu windows captured, groups of %s: not the groups sent", captures.size(),
                 sizes_text(sizes).c_str());
        return result;
    }
    sent = Clock::now();
    captures.clear();
    for (int i = 0; i < machines; ++i)
        captures.push_back(capture(p.tmux("capture-pane -p -S -2000 -t many:" + std::to_string(i))));
    sizes = group_captures(captures);
    double per_window = ms_between(sent, Clock::now());
    if (!groups_as_sent(sizes, machines)) {
        complain("tmux, a client per window: groups of %s: not the groups sent", sizes_text(sizes).c_str());
        return result;
    }
    result.first_ms = one_client;
    result.second_ms = per_window;
    return result;
}

namespace {

// quillor with h1..h<machines> from a file on 120 x 40, every remote shell given the short prompt and
// then `command` in multicast; back in singlecast with the first machine selected.
bool quillor_fleet(Bench &b, Program &p, int machines, const std::string &command)
{
    std::vector<pid_t> measured;
    if (!start_windows(b, p, Target::Quillor, machines, "", measured) || !quillor_multicast_all(p))
        return false;
    p.s->send("PS1='> '; " + command + "\r");
    p.s->idle(1000);
    p.s->send(kF7);
    if (!p.s->wait_text("singlecast mode", 10000)) {
        complain("quillor did not leave multicast mode");
        return false;
    }
    return true;
}

bool wall_shown(const ScreenReader &s)
{
    return s.row_text(0).find("[Wall: ") != std::string::npos;
}

// F1 w, and the instant the wall's caption came or went.
bool quillor_toggle_wall(Program &p, bool on)
{
    p.s->send(kF1);
    if (!p.s->wait_text("Select an option", 5000)) {
        complain("quillor showed no menu");
        return false;
    }
    p.s->send("w");
    if (!p.s->wait_for([&](const ScreenReader &s) { return wall_shown(s) == on; }, 10000)) {
        complain("quillor: the wall did not turn %s", on ? "on" : "off");
        return false;
    }
    p.s->settle(200, 3000);
    return true;
}

// The delays of keys typed into the selected machine, whose line holds the prompt alone: each key
// counts as drawn when it stands just left of the cursor, wherever the screen or the tile shows it.
std::vector<double> cursor_echo(const Bench &b, PtySession &s, unsigned seed)
{
    auto at_prompt = [](const ScreenReader &sc) {
        int r = sc.cursor_row(), c = sc.cursor_col();
        return c >= 2 && sc.cell(r, c - 1).text == " " && sc.cell(r, c - 2).text == ">";
    };
    auto begin_group = [&] {
        if (!s.wait_for(at_prompt, kEchoTimeoutMs)) {
            complain("quillor: the line was not cleared:\n%s", s.screen().all_text().c_str());
            return false;
        }
        return true;
    };
    auto echoed = [](char c, int) {
        return [=](const ScreenReader &sc) {
            return sc.cell(sc.cursor_row(), sc.cursor_col() - 1).text == cell_text(c);
        };
    };
    Bench few = b;
    few.keys = std::min(b.keys, 50);
    // Whatever an earlier measurement left typed on the line goes first.
    s.send(kCtrlU);
    return type_and_time(few, s, seed, begin_group, echoed);
}

// quillor's CPU in % of one core over `ms`, reading its output meanwhile.
double quillor_cpu_percent(Program &p, int ms)
{
    std::vector<pid_t> pids{p.s->pid()};
    int64_t before = cpu_ns_of(pids);
    auto from = Clock::now();
    p.s->idle(ms);
    return 100.0 * static_cast<double>(cpu_ns_of(pids) - before) / 1e6 / ms_between(from, Clock::now());
}

} // namespace

WallRun measure_wall(Bench &b, unsigned seed)
{
    WallRun result;
    {
        // 64 machines each printing a line every 10 ms (a read that times out on a fifo of its own
        // waits without a process started per line), the selected one stopped and cleared.
        QuietAfterwards quiet{b};
        Program p;
        if (!quillor_fleet(b, p, 64,
                           "f=$(mktemp -u); mkfifo $f; exec 3<>$f; rm $f; "
                           "while :; do echo tick $RANDOM; read -t 0.01 -u 3; done"))
            return result;
        p.s->send("\x03");
        p.s->idle(300);
        p.s->send("\x0c");
        p.s->idle(500);
        for (bool on : {false, true}) {
            if (on && !quillor_toggle_wall(p, true)) return result;
            result.printing_cpu[on] = quillor_cpu_percent(p, 5000);
            std::vector<double> echo = cursor_echo(b, *p.s, seed);
            if (echo.empty()) return result;
            result.printing_echo_ms[on] = stats_percentile(echo, 50);
        }
    }
    {
        // 16 quiet machines: the selected one's echo with and without the wall.
        QuietAfterwards quiet{b};
        Program p;
        if (!quillor_fleet(b, p, 16, "clear")) return result;
        p.s->idle(500);
        for (bool on : {false, true}) {
            if (on && !quillor_toggle_wall(p, true)) return result;
            std::vector<double> echo = cursor_echo(b, *p.s, seed + 1);
            if (echo.empty()) return result;
            result.quiet_echo_ms[on] = stats_percentile(echo, 50);
        }
    }
    {
        // 256 machines: from the menu's w until the wall's last title row has every column's prompt below
        // it and nothing of the panels before is left under the rows after: the last cells a repaint of
        // the whole wall sends. (Each screen was cleared: its tile shows the prompt on its first row.)
        QuietAfterwards quiet{b};
        Program p;
        if (!quillor_fleet(b, p, 256, "clear")) return result;
        p.s->settle(1000, 10000);
        result.rss_mib[0] = rss_mib_of({p.s->pid()});
        p.s->send(kF1);
        if (!p.s->wait_text("Select an option", 5000)) return result;
        const int last = p.s->screen().rows() - 3, cols = p.s->screen().cols();
        auto drawn = [&](const ScreenReader &s) {
            if (!wall_shown(s)) return false;
            int title = last;
            while (title > 0 && s.cell(title, kListCols).text != "├") --title;
            const std::string top = s.row_text(1);
            const int columns = count_of(top, "├") + count_of(top, "┼");
            if (title <= 0 || columns == 0 || count_of(s.row_text(title + 1), "> ") != columns) return false;
            for (int r = title + 2; r <= last; ++r)
                for (int c = kListCols + 1; c < cols; ++c)
                    if (s.cell(r, c).text != " " && s.cell(r, c).text != "│") return false;
            return true;
        };
        auto sent = Clock::now();
        p.s->send("w");
        auto shown = p.s->wait_for(drawn, 10000);
        if (!shown) {
            complain("quillor: the wall of 256 was not drawn:\n%s", p.s->screen().all_text().c_str());
            return result;
        }
        result.on_256_ms = ms_between(sent, *shown);
        p.s->settle(500, 3000);
        result.rss_mib[1] = rss_mib_of({p.s->pid()});
    }
    return result;
}
