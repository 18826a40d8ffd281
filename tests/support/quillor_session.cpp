// The real quillor on a pseudo-terminal, inside a shell that records the terminal's modes around it.
#include "support/quillor_session.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// "$0" is quillor, "$@" its arguments. The shell keeps the terminal open after quillor ends, so the
// modes it left behind can still be read; the markers go to the normal screen, not the alternate one.
constexpr const char *kWrapper = "printf 'QUILLOR_BEFORE=%s\\n' \"$(stty -g)\"; "
                                 "\"$0\" \"$@\"; s=$?; "
                                 "printf '\\nQUILLOR_AFTER=%s\\nQUILLOR_STATUS=%d\\n' \"$(stty -g)\" \"$s\"";
// The same as a job of a shell with job control: a stopped quillor (status 128 + SIGTSTP or SIGSTOP) is
// continued in the foreground once a line is typed at the shell, up to three times. Not a loop: bash
// leaves a loop whose command was stopped.
constexpr const char *kJobWrapper =
    "set -m; printf 'QUILLOR_BEFORE=%s\\n' \"$(stty -g)\"; "
    "\"$0\" \"$@\"; s=$?; "
    "r() { if [ $s -eq 148 ] || [ $s -eq 147 ]; then printf '\\nQUILLOR_STOPPED\\n'; read line; fg "
    ">/dev/null; "
    "s=$?; fi; }; r; r; r; "
    "printf '\\nQUILLOR_AFTER=%s\\nQUILLOR_STATUS=%d\\n' \"$(stty -g)\" \"$s\"";

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh directory for one session's sanitizer reports.
std::string make_report_dir()
{
    char tmpl[] = "/tmp/quillor-reports.XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
}

// The caller's environment for quillor, with its sanitizers told to write their reports into `dir`;
// options the caller gave itself stay as given.
std::vector<std::string> with_report_paths(std::vector<std::string> env, const std::string &dir)
{
    if (dir.empty()) return env;
    const std::pair<const char *, const char *> tools[] = {{"ASAN_OPTIONS", "asan"},
                                                           {"UBSAN_OPTIONS", "ubsan"}};
    for (const auto &[variable, file] : tools) {
        const std::string prefix = std::string(variable) + "=";
        const bool given = std::any_of(env.begin(), env.end(),
                                       [&](const std::string &e) { return e.rfind(prefix, 0) == 0; });
        if (given) continue;
        const char *inherited = getenv(variable);
        std::string options = inherited && *inherited ? std::string(inherited) + ":" : "";
        options += "print_stacktrace=1:log_path=" + dir + "/" + file;
        env.push_back(prefix + options);
    }
    return env;
}

std::string crlf_to_lf(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i)
        if (!(in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) out += in[i];
    return out;
}

} // namespace

std::string quillor_piped(const std::vector<std::string> &args, int *status)
{
    std::string command = std::string("exec '") + QUILLOR_BINARY + "'";
    for (const std::string &a : args) command += " '" + a + "'";
    std::string out;
    *status = -1;
    FILE *pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    const int s = pclose(pipe);
    if (s != -1 && WIFEXITED(s)) *status = WEXITSTATUS(s);
    return out;
}

Sshd *shared_sshd()
{
    static std::unique_ptr<Sshd> sshd;
    static bool tried = false;
    if (!tried) {
        tried = true;
        sshd = std::make_unique<Sshd>();
        if (!sshd->start(8)) sshd.reset();
    }
    return sshd.get();
}

bool has_colours(const ReadCell &c, int fg, int bg, bool bold)
{
    const int shown_fg = c.fg < 0 ? 7 : c.fg;
    const int shown_bg = c.bg < 0 ? 0 : c.bg;
    return shown_fg == fg && shown_bg == bg && c.bold == bold;
}

std::string screen_cells(const ScreenReader &s, int row, int from, int to)
{
    std::string text;
    for (int col = from; col < to; ++col) text += s.cell(row, col).text;
    return text;
}

bool process_gone(pid_t pid, int timeout_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        char state = 0;
        if (!process_stat(pid, nullptr, &state, nullptr) || state == 'Z' || state == 'X') return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QuillorSession::QuillorSession(const std::vector<std::string> &args, int rows, int cols,
                               const std::vector<std::string> &env, bool job_control)
    : report_dir_(make_report_dir()),
      pty_(
          [&] {
              std::vector<std::string> argv{"/bin/sh", "-c", kWrapper, QUILLOR_BINARY};
              if (job_control)
                  argv = {"/bin/bash", "--norc", "--noprofile", "-c", kJobWrapper, QUILLOR_BINARY};
              argv.insert(argv.end(), args.begin(), args.end());
              return argv;
          }(),
          rows, cols, with_report_paths(env, report_dir_)),
      rows_(rows), cols_(cols)
{
}

QuillorSession::~QuillorSession()
{
    if (pid_ <= 0) {
        for (pid_t kid : process_children(pty_.pid())) {
            std::string comm;
            if (process_stat(kid, &comm, nullptr, nullptr) && comm == "quillor") pid_ = kid;
        }
    }
    std::vector<pid_t> kids = seen_children_;
    if (pid_ > 0 && !process_gone(pid_, 0)) {
        for (pid_t kid : process_children(pid_)) kids.push_back(kid);
        kill(pid_, SIGKILL);
        process_gone(pid_, 5000);
    }
    // The ssh children hang up when quillor's end closes their terminals; make sure of it.
    for (pid_t kid : kids) {
        if (process_gone(kid, 3000)) continue;
        std::string comm;
        if (process_stat(kid, &comm, nullptr, nullptr) && comm == "ssh") kill(kid, SIGKILL);
    }
    pty_.wait_exit(5000);
    const std::string reports = sanitizer_reports();
    if (!reports.empty()) ADD_FAILURE() << "quillor's sanitizers reported:\n" << reports;
    if (!report_dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(report_dir_, ec);
    }
}

std::string QuillorSession::sanitizer_reports() const
{
    std::string reports;
    if (report_dir_.empty()) return reports;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(report_dir_, ec))
        reports += "--- " + entry.path().filename().string() + "\n" + read_file(entry.path());
    return reports;
}

int QuillorSession::quit()
{
    send(keys::F1);
    if (!wait_for_text("Select an option: ")) return -1;
    send("q");
    if (!wait_for([&](const ScreenReader &) {
            return minibuf_text().rfind("Really quit application [y/n]?", 0) == 0;
        }))
        return -1;
    send("y" + keys::Enter);
    return wait_status();
}

bool QuillorSession::delete_all()
{
    send(keys::F1);
    if (!wait_for_text("Select an option: ")) return false;
    send("X");
    if (!wait_for([&](const ScreenReader &) {
            return minibuf_text().rfind("Really delete ALL machines [y/n]?", 0) == 0;
        }))
        return false;
    send("y" + keys::Enter);
    return wait_for([&](const ScreenReader &) { return list_count() == 0; });
}

std::string QuillorSession::dump() const
{
    return "\n--- screen ---\n" + screen().all_text() + "\n--------------\n";
}

bool QuillorSession::skip_splash()
{
    const int title_row = rows_ / 2;
    if (!wait_for([&](const ScreenReader &s) {
            return s.row_text(title_row).find("Quillor v" QUILLOR_VERSION) != std::string::npos;
        }))
        return false;
    send(" ");
    return wait_for(
        [&](const ScreenReader &s) { return s.row_text(rows_ - 2).find("F7:mcast") != std::string::npos; });
}

bool QuillorSession::add(const std::string &name, int rows_after)
{
    if (name.size() > 63) {
        std::fprintf(stderr, "quillor session: \"%s\" is longer than the Add prompt takes\n", name.c_str());
        return false;
    }
    send(keys::F5);
    if (!wait_for([&](const ScreenReader &) { return minibuf_text().rfind("Add: ", 0) == 0; })) return false;
    send(name + keys::Enter);
    return wait_for([&](const ScreenReader &) { return list_count() == rows_after; }, 20000);
}

bool QuillorSession::select(int i)
{
    std::string moves;
    for (int n = 0; n < list_count(); ++n) moves += keys::F2;
    for (int n = 0; n < i; ++n) moves += keys::F3;
    send(moves);
    bool selected = wait_for([&](const ScreenReader &) {
        for (int n = 0; n < list_count(); ++n)
            if ((list_cell(n).bg == 1) != (n == i)) return false;
        return true;
    });
    // The list's row comes before the terminal panel in the frame that selects: a test that reads the
    // panel next must find the selected machine's screen there, not the one before.
    if (selected) pty_.wait_quiet(30, 1000);
    return selected;
}

bool QuillorSession::terminal_shows(const std::string &text, int timeout_ms)
{
    return wait_for([&](const ScreenReader &) { return terminal_text().find(text) != std::string::npos; },
                    timeout_ms);
}

void QuillorSession::hang_up()
{
    pid(); // found while the wrapper is still its parent
    // Replacing the master in place, rather than closing it, keeps its descriptor number valid for the
    // reader thread, which then reads end of file from /dev/null and stops.
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devnull < 0) return;
    dup3(devnull, pty_.master(), O_CLOEXEC);
    close(devnull);
}

pid_t QuillorSession::pid()
{
    if (pid_ <= 0) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (pid_ <= 0 && Clock::now() < end) {
            for (pid_t kid : process_children(pty_.pid())) {
                std::string comm;
                if (process_stat(kid, &comm, nullptr, nullptr) && comm == "quillor") pid_ = kid;
            }
            if (pid_ <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return pid_ > 0 && !process_gone(pid_, 0) ? pid_ : -1;
}

std::vector<pid_t> QuillorSession::children()
{
    const pid_t p = pid();
    if (p <= 0) return {};
    std::vector<pid_t> kids = process_children(p);
    for (pid_t kid : kids)
        if (std::find(seen_children_.begin(), seen_children_.end(), kid) == seen_children_.end())
            seen_children_.push_back(kid);
    return kids;
}

int QuillorSession::wait_status(int timeout_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const std::string status = marker("QUILLOR_STATUS");
        if (!status.empty()) return std::stoi(status);
        if (Clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string QuillorSession::marker(const std::string &name) const
{
    const std::string out = pty_.output();
    const size_t at = out.find(name + "=");
    if (at == std::string::npos) return {};
    const size_t from = at + name.size() + 1;
    const size_t to = out.find_first_of("\r\n", from);
    if (to == std::string::npos) return {}; // the line is not complete yet
    return out.substr(from, to - from);
}

std::string QuillorSession::modes_before() const
{
    return marker("QUILLOR_BEFORE");
}

std::string QuillorSession::modes_after() const
{
    return marker("QUILLOR_AFTER");
}

std::string QuillorSession::modes_now() const
{
    const char *slave = ptsname(pty_.master());
    if (!slave) return "";
    std::string modes;
    if (FILE *p = popen(("stty -g -F " + std::string(slave) + " 2>/dev/null").c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) modes += buf;
        pclose(p);
    }
    while (!modes.empty() && modes.back() == '\n') modes.pop_back();
    return modes;
}

std::string QuillorSession::program_output() const
{
    const std::string out = pty_.output();
    size_t from = out.find("QUILLOR_BEFORE=");
    if (from == std::string::npos) return {};
    from = out.find('\n', from);
    if (from == std::string::npos) return {};
    size_t to = out.find("\r\nQUILLOR_AFTER=", from);
    if (to == std::string::npos) to = out.size();
    return crlf_to_lf(out.substr(from + 1, to - from - 1));
}

bool QuillorSession::terminal_modes_reset() const
{
    const std::string out = program_output();
    // Alternate screen, keypad transmit mode, and the visible cursor.
    const std::pair<const char *, const char *> modes[] = {
        {"\x1b[?1049h", "\x1b[?1049l"},
        {"\x1b[?1h", "\x1b[?1l"},
        {"\x1b[?25l", "\x1b[?25h"},
    };
    for (const auto &[enter, leave] : modes) {
        const size_t entered = out.rfind(enter);
        const size_t left = out.rfind(leave);
        if (entered != std::string::npos && (left == std::string::npos || left < entered)) return false;
    }
    return true;
}

std::string QuillorSession::list_row(int i) const
{
    std::string row = screen_cells(screen(), i + 1, 0, 10);
    if (row.size() == 10 && row.back() == '~') row.back() = ' ';
    return row;
}

char QuillorSession::list_mark(int i) const
{
    const std::string mark = screen_cells(screen(), i + 1, 9, 10);
    return mark.size() == 1 ? mark[0] : ' ';
}

ReadCell QuillorSession::list_cell(int i) const
{
    return screen().cell(i + 1, 1);
}

int QuillorSession::list_count() const
{
    int n = 0;
    while (n < rows_ - 3 && list_row(n).find_first_not_of(' ') != std::string::npos) ++n;
    return n;
}

std::string QuillorSession::terminal_text() const
{
    std::string text;
    for (int row = 1; row <= rows_ - 3; ++row) {
        if (row > 1) text += '\n';
        text += screen_cells(screen(), row, term_x(), cols_);
    }
    return text;
}

std::string QuillorSession::terminal_flat() const
{
    std::string text;
    for (int row = 1; row <= rows_ - 3; ++row) text += screen_cells(screen(), row, term_x(), cols_);
    return text;
}

std::string QuillorSession::minibuf_text() const
{
    return screen().row_text(rows_ - 1);
}

ReadCell QuillorSession::minibuf_cell(int col) const
{
    return screen().cell(rows_ - 1, col);
}

void log_into_sshd(QuillorSession &q, int n)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(q.add(sshd->add_name(i), i)) << q.dump();
    for (int i = n - 1; i >= 0; --i) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("# ")) << "machine " << i << q.dump();
    }
}

bool tagged_rows_are(QuillorSession &q, const std::vector<int> &rows)
{
    return q.wait_for([&](const ScreenReader &) {
        std::vector<int> now;
        for (int i = 0; i < q.list_count(); ++i)
            if (q.list_row(i)[0] == '*') now.push_back(i);
        return now == rows;
    });
}
