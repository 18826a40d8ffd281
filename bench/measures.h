// The measurements, each for one target program in one run.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

enum class Target { Quillor, Tmux, Ssh };

// The system-wide ssh client config, which the harness replaces in its own mount namespace.
constexpr char kSystemSshConfig[] = "/etc/ssh/ssh_config";

const char *target_name(Target t);

// What every measurement needs: the programs, the server, and files of host names.
struct Bench {
    std::string quillor; // the optimised quillor binary
    std::string dir;     // temporary directory for host files
    pid_t sshd_pid = -1; // the private sshd; remote shells are its descendants
    int keys = 200;      // keys typed per latency run
    int serial = 0;      // makes tmux socket names unique
};

// Writes a file naming hosts h1..h<n>, one per line, and returns its path.
std::string bench_hosts_file(const Bench &b, int n);

// Echo latency of every key (ms) and the time to display `seq 1 2000000` (s) in one session.
struct SingleRun {
    std::vector<double> echo_ms;
    std::optional<double> seq_s;
    std::optional<double> seq_cpu_s; // of that, CPU the target's own processes used
    // CPU the target's own processes used per key typed, in microseconds: work, not waiting.
    std::optional<double> cpu_us_per_key;
};
SingleRun measure_single(Bench &b, Target t, unsigned seed, bool echo, bool seq);

// For each key typed in multicast to 16 machines, ms until its echo shows for all 16; and the CPU the
// target used per key, in microseconds.
struct FanoutRun {
    std::vector<double> delays_ms;
    std::optional<double> cpu_us_per_key;
};
FanoutRun measure_fanout(Bench &b, Target t, unsigned seed);

// Seconds from the first byte of a 50 KB paste until a remote `head -c 50000 | wc -c` answers, on one
// machine or on `machines` at once (quillor: multicast to all tagged; tmux: synchronize-panes). `typed`:
// the same text written in 4 KiB writes without paste brackets, as typed text arrives.
std::optional<double> measure_paste(Bench &b, Target t, int machines, bool typed);

// quillor alone: the remote's own time for `seq 1 300000`, in seconds, with the F1 menu held open the
// whole time (at most 6 s) or not opened at all.
std::optional<double> measure_menu_seq(Bench &b, bool menu);

// CPU (% of one core) and wake-ups over 10 s, and resident memory (MiB), with 64 live machines and
// nothing typed.
struct IdleRun {
    double cpu_percent = 0;
    double rss_mib = 0;
    double wakeups_per_s = 0; // times the target's processes slept and were woken, per second
};
std::optional<IdleRun> measure_idle(Bench &b, Target t);

// Resident memory (MiB) once `machines` machines have logged in and their prompts have been drawn
// (quillor: from a file; tmux: a window each, client and server together).
std::optional<double> measure_live_rss(Bench &b, Target t, int machines);

// Resident memory (MiB) once 64 machines have each printed 5000 lines of 80 columns, half of them in
// colour, keeping 2000 lines of history each (tmux: history-limit 2000, one window per machine).
std::optional<double> measure_history(Bench &b, Target t);

// 20 machines printing without pause and a 21st shown and quiet (quillor: selected; tmux: a window
// each, the quiet one current): the delay of each key typed into the quiet one (ms) until its echo is
// drawn, and of each 100-character paste (s).
struct FloodRun {
    std::vector<double> echo_ms;
    std::vector<double> paste_s;
};
FloodRun measure_flood(Bench &b, Target t, unsigned seed);

// quillor alone: seconds from Enter at "Add: @file" of 256 names until all 256 rows exist, and its
// resident memory (MiB) once those 256 machines have logged in.
struct StartupRun {
    std::optional<double> add_s;
    std::optional<double> add_cpu_s;  // of that, CPU quillor itself used
    std::optional<double> children_s; // from the Enter until all 256 ssh children run
    std::optional<double> logins_s;   // from the Enter until all 256 remote shells run
    std::optional<double> rss_mib;
};
StartupRun measure_startup(Bench &b);

// The compare of answers timed in-process by compare_bench (built beside the harness), `runs` times:
// each of its figures by name ("cold", "cold_cpu", "warm", "one_more", "pieces_total", "pieces_max"), in
// ms per run.
// Empty when it could not be run.
std::map<std::string, std::vector<double>> measure_compare_inprocess(int runs);

// `machines` machines on a 120 x 40 terminal (quillor: from a file, all tagged, multicast; tmux: one
// window each) answer one command with 2000 lines, one machine differently; once all are done:
// quillor: ms from F1 until the compare view shows its first group header (first_ms), and from its
// `c` (second_ms). tmux: ms to capture every window's last 2000 lines and group them by equal answer,
// with one tmux client for all windows (first_ms) and with one client per window (second_ms).
struct CompareRun {
    std::optional<double> first_ms;
    std::optional<double> second_ms;
};
CompareRun measure_compare(Bench &b, Target t, int machines);

// quillor alone, on 120 x 40: the wall off ([0]) and on ([1]). With 64 machines each printing a line
// every 10 ms, quillor's CPU (% of one core, over 5 s) and the median delay of 50 keys typed into the
// selected machine (stopped and cleared) meanwhile; with 16 quiet machines, that delay again; with 256,
// ms from the menu's w until the whole wall is drawn, and quillor's memory before and after (MiB).
struct WallRun {
    std::optional<double> printing_cpu[2];
    std::optional<double> printing_echo_ms[2];
    std::optional<double> quiet_echo_ms[2];
    std::optional<double> on_256_ms;
    std::optional<double> rss_mib[2];
};
WallRun measure_wall(Bench &b, unsigned seed);
