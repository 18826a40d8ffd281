// The compare of answers timed inside the program's own code, without ssh or a terminal in between:
// 256 machines whose screens are written directly, so that only compare_state() is on the clock.
//
// Prints a readable summary on standard error and one line per figure on standard output,
// "<name> <ms of run 1> <ms of run 2> ...", which quillor_bench reads.
#include <curses.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machines/compare.h"
#include "machines/mlist.h"
#include "stats.h"
#include "support/vt_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// The terminal panel of a 120 x 40 screen.
constexpr int kTermRows = 37;
constexpr int kTermCols = 80;
constexpr int kScreenRows = 40;
constexpr int kScreenCols = 120;
// Pieces an answer arrives in for the figure of comparing while output flows.
constexpr int kPieces = 10;
constexpr char kCommand[] = "journalctl -u app --no-pager -n 2000";

struct Options {
    int runs = 5;
    int machines = kMaxMachines;
    int lines = 2000;
};

void usage()
{
    std::fprintf(stderr, "usage: compare_bench [--runs N] [--machines N] [--lines N]\n");
    std::exit(2);
}

double ms_since(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

std::string name_of(int i)
{
    return "m" + std::to_string(i);
}

std::string prompt_of(int i)
{
    return name_of(i) + "$ ";
}

// Line k of machine i's answer: a log of 60 to 80 columns, the machine's own name in every fifth line.
// The odd machine says one thing differently in line `odd_line`, one with its name.
std::string answer_line(int i, int k, int odd_line)
{
    static const char *const kWhat[] = {
        "request served in 12 ms, 2048 bytes, status 200",
        "cache refreshed: 1532 entries, 0 evicted, 3 ms",
        "workers 16 of 32 busy, queue empty, load 0.42",
        "config unchanged since 2026-12-01, sum 9f3a71c2",
    };
    char line[160];
    int sec = k % 60, min = (k / 60) % 60;
    int ms = k == odd_line ? 13 : 12;
    if (k % 5 == 0)
        std::snprintf(line, sizeof line, "Dec 09 10:%02d:%02d %s app[4211]: started job %d on %s, took %d ms",
                      min, sec, name_of(i).c_str(), k, name_of(i).c_str(), ms);
    else
        std::snprintf(line, sizeof line, "Dec 09 10:%02d:%02d app[4211]: %s", min, sec, kWhat[k % 4]);
    return line;
}

// Lines [from, to) of machine i's answer as a terminal gets them.
std::string answer_piece(int i, int from, int to, int lines, int odd)
{
    std::string out;
    for (int k = from; k < to; ++k) {
        out += answer_line(i, k, i == odd ? lines * 3 / 4 / 5 * 5 : -1);
        out += "\r\n";
    }
    return out;
}

// Sends the command to every machine in multicast, which marks where the answers start, and echoes it
// on each screen as the remote shell would.
void send_command()
{
    compare_note_sent(std::string(kCommand) + "\r");
    mlist_send_text(std::string(kCommand) + "\r");
    for (int i = 0; i < mlist_count(); ++i)
        vt_feed_output(mlist_machine(i)->term.get(), std::string(kCommand) + "\r\n");
}

double cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The call's wall-clock time; its CPU time too, which a busy machine does not stretch as much.
double timed_state(CompareState &state, double *cpu = nullptr)
{
    double cpu_from = cpu_ms();
    auto from = Clock::now();
    state = compare_state();
    double took = ms_since(from);
    if (cpu) *cpu = cpu_ms() - cpu_from;
    return took;
}

// The answers grouped as they should be once every machine is done: all but the odd one together.
bool state_as_expected(const CompareState &state, int machines, int odd, const char *when)
{
    bool ok = state.printing.empty() && !state.clipped && state.groups.size() == 2 &&
              static_cast<int>(state.groups[0].machines.size()) == machines - 1 &&
              state.groups[1].machines == std::vector<int>{odd};
    if (!ok)
        std::fprintf(stderr, "compare_bench: %s: %zu groups, %zu printing, clipped %d: not what was fed\n",
                     when, state.groups.size(), state.printing.size(), state.clipped ? 1 : 0);
    return ok;
}

struct Figures {
    std::vector<double> cold, cold_cpu, warm, one_more, pieces_total, pieces_max;
};

bool run_once(const Options &o, int run, Figures &f)
{
    const int odd = (run * 37 + 11) % o.machines;
    CompareState state;

    // The whole answer at once, then the prompt.
    send_command();
    for (int i = 0; i < o.machines; ++i)
        vt_feed_output(mlist_machine(i)->term.get(),
                       answer_piece(i, 0, o.lines, o.lines, odd) + prompt_of(i));
    double cpu = 0;
    f.cold.push_back(timed_state(state, &cpu));
    f.cold_cpu.push_back(cpu);
    if (!state_as_expected(state, o.machines, odd, "cold")) return false;
    f.warm.push_back(timed_state(state));
    if (!state_as_expected(state, o.machines, odd, "warm")) return false;
    // A late line on every machine after its prompt, then the prompt again: still done, and equal.
    for (int i = 0; i < o.machines; ++i)
        vt_feed_output(mlist_machine(i)->term.get(),
                       "\r\n" + name_of(i) + ": job finished in background\r\n" + prompt_of(i));
    f.one_more.push_back(timed_state(state));
    if (!state_as_expected(state, o.machines, odd, "one more line")) return false;

    // The same answers arriving in pieces, compared between them as the list's refresh does while the
    // machines print.
    send_command();
    double total = 0, largest = 0;
    for (int p = 0; p < kPieces; ++p) {
        int from = o.lines * p / kPieces, to = o.lines * (p + 1) / kPieces;
        for (int i = 0; i < o.machines; ++i) {
            std::string piece = answer_piece(i, from, to, o.lines, odd);
            if (p == kPieces - 1) piece += prompt_of(i);
            vt_feed_output(mlist_machine(i)->term.get(), piece);
        }
        double took = timed_state(state);
        total += took;
        largest = std::max(largest, took);
        if (p < kPieces - 1 && static_cast<int>(state.printing.size()) != o.machines) {
            std::fprintf(stderr, "compare_bench: piece %d: %zu of %d machines printing\n", p + 1,
                         state.printing.size(), o.machines);
            return false;
        }
    }
    if (!state_as_expected(state, o.machines, odd, "pieces")) return false;
    f.pieces_total.push_back(total);
    f.pieces_max.push_back(largest);
    return true;
}

void report(const char *name, const char *what, const std::vector<double> &ms)
{
    std::printf("%s", name);
    for (double v : ms) std::printf(" %.3f", v);
    std::printf("\n");
    std::fprintf(stderr, "  %-44s %9.3f ms (%.3f-%.3f)\n", what, stats_median(ms),
                 *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        auto value = [&] {
            if (i + 1 >= argc) usage();
            return std::atoi(argv[++i]);
        };
        if (!std::strcmp(argv[i], "--runs"))
            o.runs = value();
        else if (!std::strcmp(argv[i], "--machines"))
            o.machines = value();
        else if (!std::strcmp(argv[i], "--lines"))
            o.lines = value();
        else
            usage();
    }
    if (o.runs < 1 || o.machines < 2 || o.machines > kMaxMachines || o.lines < kPieces) usage();

    // A curses screen nobody sees: the list needs a window, and nothing here is drawn.
    setenv("LINES", std::to_string(kScreenRows).c_str(), 1);
    setenv("COLUMNS", std::to_string(kScreenCols).c_str(), 1);
    FILE *out = std::fopen("/dev/null", "w");
    FILE *in = std::fopen("/dev/null", "r");
    SCREEN *screen = out && in ? newterm("xterm-256color", out, in) : nullptr;
    if (!screen) {
        std::fprintf(stderr, "compare_bench: no curses screen\n");
        return 1;
    }
    set_term(screen);
    WINDOW *list = newwin(kTermRows, 10, 1, 0);
    mlist_init(list, kTermRows, kTermCols);

    // "ssh -V" prints one line and exits: each machine's screen is then ours to write on. The machines
    // stay alive as far as the list knows, since nobody reports their exits.
    for (int i = 0; i < o.machines; ++i) mlist_add("-V " + name_of(i));
    bool ready = true;
    for (int i = 0; i < o.machines && ready; ++i) {
        TarvikVt *vt = mlist_machine(i)->term.get();
        ready = vt_pump_until(vt, [&] { return !vt_screen_text(vt).empty(); });
        vt_feed_output(vt, "\r\n" + prompt_of(i));
    }
    if (!ready) {
        std::fprintf(stderr, "compare_bench: ssh -V printed nothing\n");
        return 1;
    }
    mlist_tag_all(false);
    mlist_toggle_multicast();

    std::fprintf(stderr,
                 "compare_bench: %d machines, %d-line answers of 60-80 columns, %d x %d terminals, %d runs\n",
                 o.machines, o.lines, kTermCols, kTermRows, o.runs);
    Figures f;
    for (int r = 0; r < o.runs; ++r) {
        if (!run_once(o, r, f)) return 1;
        std::fprintf(stderr,
                     "run %d compare: cold %.3f ms (CPU %.3f ms), warm %.3f ms, one more line %.3f ms, in %d "
                     "pieces %.3f ms\n",
                     r + 1, f.cold.back(), f.cold_cpu.back(), f.warm.back(), f.one_more.back(), kPieces,
                     f.pieces_total.back());
    }
    std::fprintf(stderr, "median (lowest-highest) of %d runs:\n", o.runs);
    report("cold", "compare_state, first after the answers", f.cold);
    report("cold_cpu", "  its CPU time", f.cold_cpu);
    report("warm", "  again, nothing new", f.warm);
    report("one_more", "  after one more line and the prompt", f.one_more);
    report("pieces_total", "in pieces: all the calls while printing", f.pieces_total);
    report("pieces_max", "  the slowest of those calls", f.pieces_max);

    mlist_delete_all();
    delwin(list);
    endwin();
    delscreen(screen);
    std::fclose(out);
    std::fclose(in);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return 0;
}
