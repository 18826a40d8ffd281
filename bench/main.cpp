// quillor's benchmark: latency, throughput, multicast fan-out, idle cost and start-up, side by side
// with tmux and bare ssh on the same private sshd, printed as one table.
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "fleet.h"
#include "measures.h"
#include "procs.h"
#include "stats.h"
#include "support/sshd.h"

namespace {

constexpr int kHosts = 256;

void usage()
{
    std::fprintf(stderr, "usage: quillor_bench --quillor PATH [--runs N] [--heavy-runs N] [--keys N]\n"
                         "                     [--only echo,seq,paste,typed,mpaste,fanout,idle,menu,\n"
                         "                             startup,flood,history,compare,fleet,wall]\n");
    std::exit(2);
}

// Machine names from a file are single words, so they cannot carry "-F config". Instead this process
// and everything it starts get a private view of the system-wide ssh client config in which the names
// h1..h256 reach the private sshd; the machine's own file is not touched.
bool use_fixture_config(const std::string &config)
{
    if (unshare(CLONE_NEWNS) != 0) {
        std::fprintf(stderr, "bench: cannot make a private mount namespace (%s); run as root\n",
                     std::strerror(errno));
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(config.c_str(), kSystemSshConfig, nullptr, MS_BIND, nullptr) != 0) {
        std::fprintf(stderr, "bench: cannot put the fixture's ssh config in place: %s\n",
                     std::strerror(errno));
        return false;
    }
    return true;
}

struct Row {
    std::string what;
    Figure q, t, s;
    int decimals;
    std::string target;
    // Whether quillor meets the target; empty when it could not be judged.
    std::string verdict;
};

std::string ratio(const Figure &a, const Figure &b)
{
    if (a.empty() || b.empty() || b.median() == 0) return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", a.median() / b.median());
    return buf;
}

std::string judge(bool known, bool ok)
{
    return !known ? "?" : ok ? "met" : "MISSED";
}

} // namespace

int main(int argc, char **argv)
{
    Bench b;
    int runs = 5, heavy_runs = 3;
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "--quillor")
            b.quillor = value();
        else if (a == "--runs")
            runs = std::atoi(value().c_str());
        else if (a == "--heavy-runs")
            heavy_runs = std::atoi(value().c_str());
        else if (a == "--keys")
            b.keys = std::atoi(value().c_str());
        else if (a == "--only") {
            std::stringstream list(value());
            for (std::string part; std::getline(list, part, ',');) only.insert(part);
        } else
            usage();
    }
    if (b.quillor.empty() || runs < 1 || heavy_runs < 1 || b.keys < 1) usage();
    if (access(b.quillor.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench: no quillor at %s\n", b.quillor.c_str());
        return 1;
    }
    if (b.quillor[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) b.quillor = std::string(cwd) + "/" + b.quillor;
    }
    auto wanted = [&](const char *name) { return only.empty() || only.count(name) > 0; };

    // Every program measured sees the same terminal type and locale, and no outer tmux.
    setenv("TERM", "xterm-256color", 1);
    setenv("LANG", "C.UTF-8", 1);
    unsetenv("LC_ALL");
    unsetenv("TMUX");

    double load_before = proc_load1();
    Sshd sshd;
    if (!sshd.start(kHosts)) return 1;
    if (!use_fixture_config(sshd.config)) return 1;
    b.sshd_pid = sshd.pid;
    b.dir = sshd.dir;

    const Target singles[] = {Target::Quillor, Target::Tmux, Target::Ssh};
    Figure echo_med[3], echo_p90[3], echo_p99[3], echo_cpu[3], seq[3], seq_cpu[3], fan_med[2], fan_p90[2],
        fan_cpu[2];
    Figure idle_cpu[2], idle_rss[2], idle_wake[2], add256, add256_cpu, rss256[2], flood_echo[2],
        flood_paste[2], history_rss[2];
    Figure paste1[3], typed1[3], paste16[2], menu_seq[2];
    Figure cmp_cold, cmp_cold_cpu, cmp_warm, cmp_more, cmp_pieces, cmp_view[2], cmp_view_c, cmp_tmux_loop;

    // Targets take turns within each run, so a change of load on the machine falls on all of them.
    if (wanted("echo") || wanted("seq")) {
        for (int r = 0; r < runs; ++r) {
            for (int i = 0; i < 3; ++i) {
                SingleRun one = measure_single(b, singles[i], 1000 + r, wanted("echo"), wanted("seq"));
                if (!one.echo_ms.empty()) {
                    echo_med[i].runs.push_back(stats_percentile(one.echo_ms, 50));
                    echo_p90[i].runs.push_back(stats_percentile(one.echo_ms, 90));
                    echo_p99[i].runs.push_back(stats_percentile(one.echo_ms, 99));
                }
                if (one.cpu_us_per_key) echo_cpu[i].runs.push_back(*one.cpu_us_per_key);
                if (one.seq_s) seq[i].runs.push_back(*one.seq_s);
                if (one.seq_cpu_s) seq_cpu[i].runs.push_back(*one.seq_cpu_s);
                std::fprintf(stderr, "run %d %-7s echo median %.3f ms p99 %.3f ms, seq %.3f s\n", r + 1,
                             target_name(singles[i]), stats_percentile(one.echo_ms, 50),
                             stats_percentile(one.echo_ms, 99), one.seq_s.value_or(0));
            }
        }
    }
    // Pasting or typing into one machine is compared with bare ssh too; pasting into 16, with tmux alone.
    struct PasteKind {
        const char *option;
        int machines;
        bool typed;
        Figure *figs;
    };
    for (const PasteKind &kind : {PasteKind{"paste", 1, false, paste1}, PasteKind{"typed", 1, true, typed1},
                                  PasteKind{"mpaste", 16, false, paste16}}) {
        if (!wanted(kind.option)) continue;
        for (int r = 0; r < runs; ++r) {
            for (int i = 0; i < (kind.machines == 1 ? 3 : 2); ++i) {
                auto took = measure_paste(b, singles[i], kind.machines, kind.typed);
                if (took) kind.figs[i].runs.push_back(*took);
                std::fprintf(stderr, "run %d %-7s %s 50 KB into %d machine%s %.3f s\n", r + 1,
                             target_name(singles[i]), kind.typed ? "typed" : "paste", kind.machines,
                             kind.machines == 1 ? "" : "s", took.value_or(0));
            }
        }
    }
    if (wanted("menu")) {
        for (int r = 0; r < runs; ++r) {
            for (int with_menu = 0; with_menu < 2; ++with_menu) {
                auto took = measure_menu_seq(b, with_menu == 1);
                if (took) menu_seq[with_menu].runs.push_back(*took);
                std::fprintf(stderr, "run %d quillor seq 1 300000 %s the menu open %.3f s\n", r + 1,
                             with_menu ? "with" : "without", took.value_or(0));
            }
        }
    }
    if (wanted("fanout")) {
        for (int r = 0; r < runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                FanoutRun fan = measure_fanout(b, singles[i], 2000 + r);
                const std::vector<double> &delays = fan.delays_ms;
                if (fan.cpu_us_per_key) fan_cpu[i].runs.push_back(*fan.cpu_us_per_key);
                if (!delays.empty()) {
                    fan_med[i].runs.push_back(stats_percentile(delays, 50));
                    fan_p90[i].runs.push_back(stats_percentile(delays, 90));
                }
                std::fprintf(stderr, "run %d %-7s fan-out median %.3f ms p90 %.3f ms\n", r + 1,
                             target_name(singles[i]), stats_percentile(delays, 50),
                             stats_percentile(delays, 90));
            }
        }
    }
    if (wanted("idle")) {
        for (int r = 0; r < heavy_runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                auto idle = measure_idle(b, singles[i]);
                if (idle) {
                    idle_cpu[i].runs.push_back(idle->cpu_percent);
                    idle_rss[i].runs.push_back(idle->rss_mib);
                    idle_wake[i].runs.push_back(idle->wakeups_per_s);
                }
                std::fprintf(stderr, "run %d %-7s idle %.3f %% of a core, %.1f wake-ups/s, %.1f MiB\n", r + 1,
                             target_name(singles[i]), idle ? idle->cpu_percent : 0,
                             idle ? idle->wakeups_per_s : 0, idle ? idle->rss_mib : 0);
            }
        }
    }
    if (wanted("history")) {
        for (int r = 0; r < heavy_runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                std::optional<double> rss = measure_history(b, singles[i]);
                if (rss) history_rss[i].runs.push_back(*rss);
                std::fprintf(stderr, "run %d %-7s 64 machines after 5000 lines each: %.1f MiB\n", r + 1,
                             target_name(singles[i]), rss.value_or(0));
            }
        }
    }
    if (wanted("startup")) {
        for (int r = 0; r < heavy_runs; ++r) {
            StartupRun start = measure_startup(b);
            if (start.add_s) add256.runs.push_back(*start.add_s);
            if (start.add_cpu_s) add256_cpu.runs.push_back(*start.add_cpu_s);
            if (start.rss_mib) rss256[0].runs.push_back(*start.rss_mib);
            std::fprintf(
                stderr,
                "run %d quillor 256 from a file in %.3f s (%.3f s of its own CPU), all started after %.3f s, "
                "logged in after %.1f s, then %.1f MiB\n",
                r + 1, start.add_s.value_or(0), start.add_cpu_s.value_or(0), start.children_s.value_or(0),
                start.logins_s.value_or(0), start.rss_mib.value_or(0));
            // The same 256 logins under tmux, for its memory.
            std::optional<double> rss = measure_live_rss(b, Target::Tmux, kHosts);
            if (rss) rss256[1].runs.push_back(*rss);
            std::fprintf(stderr, "run %d tmux    256 windows logged in: %.1f MiB\n", r + 1, rss.value_or(0));
        }
    }
    if (wanted("flood")) {
        for (int r = 0; r < heavy_runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                FloodRun flood = measure_flood(b, singles[i], 3000 + r);
                if (!flood.echo_ms.empty()) flood_echo[i].runs.push_back(stats_percentile(flood.echo_ms, 50));
                if (!flood.paste_s.empty())
                    flood_paste[i].runs.push_back(stats_percentile(flood.paste_s, 50));
                std::fprintf(stderr,
                             "run %d %-7s with 20 floods: echo median %.3f ms p90 %.3f ms, paste %.3f s\n",
                             r + 1, target_name(singles[i]), stats_percentile(flood.echo_ms, 50),
                             stats_percentile(flood.echo_ms, 90), stats_percentile(flood.paste_s, 50));
            }
        }
    }
    if (wanted("compare")) {
        // In-process first, on a machine not yet busy with logins.
        auto figures = measure_compare_inprocess(runs);
        cmp_cold.runs = figures["cold"];
        cmp_cold_cpu.runs = figures["cold_cpu"];
        cmp_warm.runs = figures["warm"];
        cmp_more.runs = figures["one_more"];
        cmp_pieces.runs = figures["pieces_total"];
        for (int r = 0; r < heavy_runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                CompareRun run = measure_compare(b, singles[i], kHosts);
                if (run.first_ms) cmp_view[i].runs.push_back(*run.first_ms);
                if (run.second_ms) (i == 0 ? cmp_view_c : cmp_tmux_loop).runs.push_back(*run.second_ms);
                std::fprintf(stderr, "run %d %-7s %d answers of 2000 lines grouped in %.1f ms (%s %.1f ms)\n",
                             r + 1, target_name(singles[i]), kHosts, run.first_ms.value_or(0),
                             i == 0 ? "from c" : "a client per window", run.second_ms.value_or(0));
            }
        }
    }
    // The wall off ([0]) and on ([1]), quillor alone: tmux's tiled panes cannot hold 64 machines on
    // 120 x 40 legibly, and it has no view that turns on over the others.
    Figure wall_cpu[2], wall_echo[2], wall_quiet[2], wall_256, wall_rss[2];
    if (wanted("wall")) {
        for (int r = 0; r < heavy_runs; ++r) {
            WallRun run = measure_wall(b, 4000 + r);
            for (int on = 0; on < 2; ++on) {
                if (run.printing_cpu[on]) wall_cpu[on].runs.push_back(*run.printing_cpu[on]);
                if (run.printing_echo_ms[on]) wall_echo[on].runs.push_back(*run.printing_echo_ms[on]);
                if (run.quiet_echo_ms[on]) wall_quiet[on].runs.push_back(*run.quiet_echo_ms[on]);
                if (run.rss_mib[on]) wall_rss[on].runs.push_back(*run.rss_mib[on]);
            }
            if (run.on_256_ms) wall_256.runs.push_back(*run.on_256_ms);
            std::fprintf(stderr,
                         "run %d quillor wall off/on: 64 printing %.2f/%.2f %% of a core, echo %.3f/%.3f ms; "
                         "16 quiet echo %.3f/%.3f ms; 256 drawn in %.1f ms, %.1f/%.1f MiB\n",
                         r + 1, run.printing_cpu[0].value_or(0), run.printing_cpu[1].value_or(0),
                         run.printing_echo_ms[0].value_or(0), run.printing_echo_ms[1].value_or(0),
                         run.quiet_echo_ms[0].value_or(0), run.quiet_echo_ms[1].value_or(0),
                         run.on_256_ms.value_or(0), run.rss_mib[0].value_or(0), run.rss_mib[1].value_or(0));
        }
    }
    // -P 8, the default, and -P 0, every login at once as before the pacing.
    const int pacings[2] = {8, 0};
    Figure fleet_s[2], fleet_dead[2];
    if (wanted("fleet")) {
        // A second sshd with sshd's default MaxStartups, its aliases over the harness's for these runs.
        Sshd fleet;
        fleet.max_startups = kDefaultMaxStartups;
        if (!fleet.start(kHosts)) return 1;
        ClientConfigOver over(fleet.config);
        if (!over.ok()) return 1;
        const std::string hosts = bench_hosts_file(b, kHosts);
        for (int r = 0; r < heavy_runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                const double load = proc_load1();
                FleetRun run = measure_fleet(b.quillor, hosts, kHosts, fleet.pid, pacings[i]);
                if (run.settled_s) {
                    fleet_s[i].runs.push_back(*run.settled_s);
                    fleet_dead[i].runs.push_back(run.dead);
                }
                std::fprintf(
                    stderr,
                    "run %d quillor -P %d, load %.2f: %d logins settled after %.1f s, %d up, %d dead\n",
                    r + 1, pacings[i], load, kHosts, run.settled_s.value_or(0), run.up, run.dead);
            }
        }
    }
    double load_after = proc_load1();
    sshd.stop();

    auto known = [](std::initializer_list<const Figure *> figs) {
        for (const Figure *f : figs)
            if (f->empty()) return false;
        return true;
    };
    const Figure none;
    std::vector<Row> rows;
    rows.push_back({"echo latency median (ms)", echo_med[0], echo_med[1], echo_med[2], 3,
                    "<= tmux, <= ssh + 0.5",
                    judge(known({&echo_med[0], &echo_med[1], &echo_med[2]}),
                          echo_med[0].median() <= echo_med[1].median() &&
                              echo_med[0].median() <= echo_med[2].median() + 0.5)});
    rows.push_back({"echo latency p90 (ms)", echo_p90[0], echo_p90[1], echo_p90[2], 3, "", ""});
    rows.push_back({"echo latency p99 (ms)", echo_p99[0], echo_p99[1], echo_p99[2], 3, "< 5",
                    judge(known({&echo_p99[0]}), echo_p99[0].median() < 5)});
    rows.push_back({"CPU per echoed key (us)", echo_cpu[0], echo_cpu[1], echo_cpu[2], 0, "", ""});
    rows.push_back({"seq 1 2000000 shown (s)", seq[0], seq[1], seq[2], 3, "<= tmux",
                    judge(known({&seq[0], &seq[1]}), seq[0].median() <= seq[1].median())});
    rows.push_back({"  of which its CPU (s)", seq_cpu[0], seq_cpu[1], seq_cpu[2], 3, "", ""});
    rows.push_back({"paste 50 KB, one machine (s)", paste1[0], paste1[1], paste1[2], 3, "<= tmux",
                    judge(known({&paste1[0], &paste1[1]}), paste1[0].median() <= paste1[1].median())});
    rows.push_back({"  aim: <= ssh + 0.020 s", none, none, none, 3, "<= ssh + 0.02",
                    judge(known({&paste1[0], &paste1[2]}), paste1[0].median() <= paste1[2].median() + 0.02)});
    rows.push_back({"typed 50 KB without brackets (s)", typed1[0], typed1[1], typed1[2], 3, "<= tmux",
                    judge(known({&typed1[0], &typed1[1]}), typed1[0].median() <= typed1[1].median())});
    rows.push_back({"  aim: <= 2 x ssh", none, none, none, 3, "<= 2 x ssh",
                    judge(known({&typed1[0], &typed1[2]}), typed1[0].median() <= 2 * typed1[2].median())});
    rows.push_back({"paste 50 KB, 16 multicast (s)", paste16[0], paste16[1], none, 3, "<= tmux",
                    judge(known({&paste16[0], &paste16[1]}), paste16[0].median() <= paste16[1].median())});
    rows.push_back({"fan-out to 16, median (ms)", fan_med[0], fan_med[1], none, 3, "<= tmux",
                    judge(known({&fan_med[0], &fan_med[1]}), fan_med[0].median() <= fan_med[1].median())});
    rows.push_back({"fan-out to 16, p90 (ms)", fan_p90[0], fan_p90[1], none, 3, "<= tmux",
                    judge(known({&fan_p90[0], &fan_p90[1]}), fan_p90[0].median() <= fan_p90[1].median())});
    rows.push_back({"CPU per multicast key (us)", fan_cpu[0], fan_cpu[1], none, 0, "", ""});
    rows.push_back({"idle CPU, 64 live (% of a core)", idle_cpu[0], idle_cpu[1], none, 3, "< 0.5, <= tmux",
                    judge(known({&idle_cpu[0], &idle_cpu[1]}),
                          idle_cpu[0].median() < 0.5 && idle_cpu[0].median() <= idle_cpu[1].median())});
    rows.push_back(
        {"idle wake-ups, 64 live (/s)", idle_wake[0], idle_wake[1], none, 2, "<= tmux",
         judge(known({&idle_wake[0], &idle_wake[1]}), idle_wake[0].median() <= idle_wake[1].median())});
    rows.push_back({"memory, 64 live (MiB)", idle_rss[0], idle_rss[1], none, 1, "", ""});
    rows.push_back({"memory, 64 x 5000 lines (MiB)", history_rss[0], history_rss[1], none, 1, "<= tmux",
                    judge(known({&history_rss[0], &history_rss[1]}),
                          history_rss[0].median() <= history_rss[1].median())});
    rows.push_back({"seq 1 300000, no dialog (s)", menu_seq[0], none, none, 3, "", ""});
    rows.push_back(
        {"seq 1 300000, menu open (s)", menu_seq[1], none, none, 3, "<= 1.2 x no dialog",
         judge(known({&menu_seq[0], &menu_seq[1]}), menu_seq[1].median() <= 1.2 * menu_seq[0].median())});
    rows.push_back({"memory, 256 from a file (MiB)", rss256[0], rss256[1], none, 1, "< 100 MB, <= tmux",
                    judge(known({&rss256[0], &rss256[1]}), rss256[0].median() * 1024 * 1024 < 100e6 &&
                                                               rss256[0].median() <= rss256[1].median())});
    rows.push_back({"256 from a file listed (s)", add256, none, none, 3, "< 0.5",
                    judge(known({&add256}), add256.median() < 0.5)});
    rows.push_back({"  of which quillor's CPU (s)", add256_cpu, none, none, 3, "", ""});
    rows.push_back({"echo beside 20 floods (ms)", flood_echo[0], flood_echo[1], none, 3, "< 50, <= tmux",
                    judge(known({&flood_echo[0], &flood_echo[1]}),
                          flood_echo[0].median() < 50 && flood_echo[0].median() <= flood_echo[1].median())});
    rows.push_back({"100-char paste, 20 floods (s)", flood_paste[0], flood_paste[1], none, 3, "< 0.2",
                    judge(known({&flood_paste[0]}), flood_paste[0].median() < 0.2)});
    rows.push_back({"compare 256 x 2000, cold (ms)", cmp_cold, none, none, 3, "< 50",
                    judge(known({&cmp_cold}), cmp_cold.median() < 50)});
    rows.push_back({"  its CPU time (ms)", cmp_cold_cpu, none, none, 3, "", ""});
    rows.push_back({"  again, nothing new (ms)", cmp_warm, none, none, 3, "", ""});
    rows.push_back({"  after one more line (ms)", cmp_more, none, none, 3, "", ""});
    rows.push_back({"  while printing, 10 pieces (ms)", cmp_pieces, none, none, 3, "", ""});
    rows.push_back({"compare view, 256 (ms)", cmp_view[0], cmp_view[1], none, 1, "", ""});
    rows.push_back({"  quillor from c; tmux loop (ms)", cmp_view_c, cmp_tmux_loop, none, 1, "", ""});
    rows.push_back({"64 printing, wall off (% CPU)", wall_cpu[0], none, none, 2, "", ""});
    rows.push_back(
        {"64 printing, wall on (% CPU)", wall_cpu[1], none, none, 2, "<= 1.5 x off",
         judge(known({&wall_cpu[0], &wall_cpu[1]}), wall_cpu[1].median() <= 1.5 * wall_cpu[0].median())});
    rows.push_back({"  echo meanwhile, off (ms)", wall_echo[0], none, none, 3, "", ""});
    rows.push_back({"  echo meanwhile, on (ms)", wall_echo[1], none, none, 3, "< 20",
                    judge(known({&wall_echo[1]}), wall_echo[1].median() < 20)});
    rows.push_back({"echo, 16 quiet, wall off (ms)", wall_quiet[0], none, none, 3, "", ""});
    rows.push_back({"echo, 16 quiet, wall on (ms)", wall_quiet[1], none, none, 3, "<= 1.1 x off",
                    judge(known({&wall_quiet[0], &wall_quiet[1]}),
                          wall_quiet[1].median() <= 1.1 * wall_quiet[0].median())});
    rows.push_back({"wall on, 256 drawn (ms)", wall_256, none, none, 1, "< 50",
                    judge(known({&wall_256}), wall_256.median() < 50)});
    rows.push_back({"  memory, 256, wall off (MiB)", wall_rss[0], none, none, 1, "", ""});
    rows.push_back({"  memory, 256, wall on (MiB)", wall_rss[1], none, none, 1, "", ""});
    rows.push_back({"256 logins, -P 8: all up (s)", fleet_s[0], none, none, 1, "none dead",
                    judge(known({&fleet_dead[0]}), fleet_dead[0].max() == 0)});
    rows.push_back({"  dead of 256, -P 8", fleet_dead[0], none, none, 0, "", ""});
    rows.push_back({"256 logins, -P 0: settled (s)", fleet_s[1], none, none, 1, "", ""});
    rows.push_back({"  dead of 256, -P 0", fleet_dead[1], none, none, 0, "", ""});

    char date[64];
    std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", std::localtime(&now));
    std::printf("\nquillor benchmark, %s, %s\n", date, proc_machine().c_str());
    std::printf("%s\n", b.quillor.c_str());
    std::printf(
        "load average (1 min) %.2f before, %.2f after; %d runs (%d for idle and 256), %d keys a run\n",
        load_before, load_after, runs, heavy_runs, b.keys);
    std::printf("each figure: median of the runs (lowest-highest run)\n\n");
    std::printf("%-32s %-24s %-24s %-24s %-8s %-8s %-22s %s\n", "figure", "quillor", "tmux", "ssh", "q/tmux",
                "q/ssh", "target", "");
    bool all_measured = true;
    for (const Row &row : rows) {
        bool judged_only = row.q.empty() && row.t.empty() && row.s.empty();
        if (judged_only && (row.verdict.empty() || row.verdict == "?")) continue;
        std::printf("%-32s %-24s %-24s %-24s %-8s %-8s %-22s %s\n", row.what.c_str(),
                    row.q.text(row.decimals).c_str(), row.t.text(row.decimals).c_str(),
                    row.s.text(row.decimals).c_str(), ratio(row.q, row.t).c_str(),
                    ratio(row.q, row.s).c_str(), row.target.c_str(), row.verdict.c_str());
        if (row.verdict == "?") all_measured = false;
    }
    std::fflush(stdout);
    // A missed target is a finding, not a failure of the run; a figure that could not be measured is.
    return all_measured ? 0 : 1;
}
