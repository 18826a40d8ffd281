// The real quillor on a pseudo-terminal, with what the end-to-end tests read off its screen.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/proc_files.h"
#include "support/pty_process.h"
#include "support/sshd.h"

// Runs QUILLOR_BINARY inside a small shell that records the terminal's modes ("stty -g") before and
// after it and the status it ended with, so that a test can tell whether the user's terminal was left
// as it was found. The panel geometry below assumes the default list and terminal widths.
// quillor's sanitizer reports go to files of their own rather than into the screen, where nothing
// would read them; a test fails when the session ends with any report written.
class QuillorSession {
public:
    // With `job_control`, quillor runs as a job of a shell that can stop and continue it: once stopped,
    // the shell says QUILLOR_STOPPED and continues it (fg) after a line typed at it.
    QuillorSession(const std::vector<std::string> &args, int rows, int cols,
                   const std::vector<std::string> &env = {}, bool job_control = false);
    // Ends quillor if it still runs, and every ssh child it started.
    ~QuillorSession();
    QuillorSession(const QuillorSession &) = delete;
    QuillorSession &operator=(const QuillorSession &) = delete;

    void send(const std::string &bytes) { pty_.send(bytes); }
    // The user's window takes a new size: the geometry below follows it.
    void resize(int rows, int cols)
    {
        pty_.resize(rows, cols);
        rows_ = rows;
        cols_ = cols;
    }
    bool wait_for(const std::function<bool(const ScreenReader &)> &pred, int timeout_ms = 10000)
    {
        return pty_.wait_for(pred, timeout_ms);
    }
    bool wait_for_text(const std::string &text, int timeout_ms = 10000)
    {
        return pty_.wait_for_text(text, timeout_ms);
    }
    const ScreenReader &screen() const { return pty_.screen(); }
    std::string dump() const; // the screen as text, for failure messages

    // Waits for the splash, ends it with a key, and waits for the key-help bar.
    bool skip_splash();
    // F5, the name, Enter; true once the list shows `rows_after` machines.
    bool add(const std::string &name, int rows_after);

    // F2 up to the top of the list, F3 down to machine i; true once its row shows it selected, with the
    // rest of that frame drawn.
    bool select(int i);
    // True once the terminal panel shows `text` (logins and remote commands take their time).
    bool terminal_shows(const std::string &text, int timeout_ms = 20000);

    // Closes the terminal, as closing a terminal window does: quillor and the wrapper get their hang-up.
    void hang_up();

    // quillor's own pid (found once it runs), or -1 when it is not running.
    pid_t pid();
    // The processes quillor started that are still running: its ssh children.
    std::vector<pid_t> children();
    // Waits for quillor to end; its exit status, or 128 + the signal that ended it; -1 on time-out.
    int wait_status(int timeout_ms = 10000);

    // After the end: the terminal's modes before and after, and what quillor wrote in between.
    std::string modes_before() const;
    std::string modes_after() const;
    // The terminal's modes now, as `stty -g` prints them: while quillor runs, or is stopped.
    std::string modes_now() const;
    std::string program_output() const; // "\r\n" turned back into "\n"
    // Every alternate-screen and keypad-transmit mode quillor entered was left again.
    bool terminal_modes_reset() const;
    // What the address, leak and undefined-behaviour sanitizers reported so far; empty when nothing.
    std::string sanitizer_reports() const;

    // Quits through the menu; the exit status (see wait_status). Leaks are only looked for at a
    // normal exit, so a test that wants them checked ends the session this way.
    int quit();
    // The menu's "X", confirmed: true once the list is empty.
    bool delete_all();

    // Panel geometry with the default widths.
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    int sep_x() const { return term_x() - 1; }
    int term_x() const { return cols_ - 80 > 11 ? cols_ - 80 : 11; }
    // The list window's row i: tag mark, name and the last column's mark, except the queue's "~",
    // which comes and goes with the pacing of logins (list_mark reads it).
    std::string list_row(int i) const;
    char list_mark(int i) const;       // the last column of list row i: '!', '?', '~' or ' '
    ReadCell list_cell(int i) const;   // the first name cell of list row i
    int list_count() const;            // rows of the list that show a machine
    std::string terminal_text() const; // the terminal panel, rows joined with "\n"
    std::string terminal_flat() const; // the terminal panel, rows joined without separators
    std::string minibuf_text() const;  // the bottom row
    ReadCell minibuf_cell(int col) const;

private:
    std::string marker(const std::string &name) const;
    std::string report_dir_; // made before pty_, which starts quillor with it in the environment
    PtyProcess pty_;
    int rows_, cols_;
    pid_t pid_ = -1;
    std::vector<pid_t> seen_children_;
};

// quillor run with its output on a pipe rather than a terminal, standard error with it: everything it
// wrote, and its exit status in `status` (-1 when it did not exit).
std::string quillor_piped(const std::vector<std::string> &args, int *status);

// The private sshd of this test process, started on first use with aliases h1..h8; null (with the
// reason on stderr) when it could not start. It is stopped when the process exits.
Sshd *shared_sshd();

// The cell is drawn in colour numbers fg on bg, bold or not; curses's default pair (white on black)
// matches whether the terminal got it as explicit colours or as its own defaults.
bool has_colours(const ReadCell &c, int fg, int bg, bool bold);

// The text of cells [from, to) of a screen row, one cell at a time (so columns, not bytes, count).
std::string screen_cells(const ScreenReader &s, int row, int from, int to);

// True once `pid` has ended (gone, or a zombie nobody reaps), waiting up to `timeout_ms`.
bool process_gone(pid_t pid, int timeout_ms);

// Skips the splash, adds h1..h<n> of the private sshd and waits until each one's shell prompt is up; the
// first machine stays selected. Fails the calling test (use ASSERT_NO_FATAL_FAILURE) when it cannot.
void log_into_sshd(QuillorSession &q, int n);

// True once the list's tag marks ("*") stand on exactly these rows, in order.
bool tagged_rows_are(QuillorSession &q, const std::vector<int> &rows);
