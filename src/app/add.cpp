// Adding machines: one name, every name in a file, or every name a command prints.
#include "event/keys.h"
#include "base/clock.h"
#include "app/add.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "event/children.h"
#include "dialogs/minibuf.h"
#include "event/wait.h"
#include "machines/hostrange.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/redraw.h"
#include "term/fd.h"
#include "term/tarvik.h"

namespace {

constexpr size_t kAddPromptSize = 64;

// Linux passes no single argument longer than this to a program, so a longer word can never reach ssh.
constexpr size_t kMaxWordBytes = 128 * 1024 - 1;

// A source is read a block at a time, for slices of time with the keyboard and the machines served in
// between.
constexpr size_t kBlockBytes = 64 * 1024;
constexpr long kReadSliceMs = 20;

// Keys typed while names are read, kept for afterwards.
constexpr size_t kKeptKeys = 128;

// How often the end of a command that closed its output is looked for, besides its exit's wake-up.
constexpr int kExitPollMs = 20;

// The command that lists names, while it runs: its exit comes from the wait's reaping.
struct Command {
    pid_t pid = -1;
    bool exited = false;
    int status = 0;
};

void command_exited(pid_t, int status, void *ctx)
{
    auto *c = static_cast<Command *>(ctx);
    c->exited = true;
    c->status = status;
}

// Control bytes never belong in a machine's name; a NUL would even cut it short without a word. Such
// words come from a binary file or a command's stray output.
bool can_be_name(const std::string &word)
{
    for (char c : word) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) return false;
    }
    return true;
}

// White space as the C locale has it: the user's locale must not turn bytes of a name into separators.
bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Adds the machines one name stands for: several for a host range, as many as the list has room for.
void add_name(const std::string &name)
{
    for (const std::string &one : hostrange_expand(name, static_cast<size_t>(kMaxMachines - mlist_count())))
        mlist_add(one);
}

// Splits a stream, block by block, into whitespace-separated words and adds each one that can be a
// name; words past the list's capacity are read and dropped.
struct WordReader {
    std::string word;
    bool too_long = false; // the word is being skipped, not held: a file of one endless word stays cheap

    void finish_word()
    {
        if (!word.empty() && !too_long && can_be_name(word)) add_name(word);
        word.clear();
        too_long = false;
    }

    void feed(const char *p, const char *end)
    {
        while (p < end) {
            if (is_blank(*p)) {
                finish_word();
                ++p;
                continue;
            }
            const char *from = p;
            while (p < end && !is_blank(*p)) ++p;
            auto len = static_cast<size_t>(p - from);
            if (too_long || word.size() + len > kMaxWordBytes)
                too_long = true;
            else
                word.append(from, len);
        }
    }
};

bool is_stop_key(int key)
{
    return key == kCtrlC || key == kCtrlG || key == kEscape;
}

enum class Read { Whole, Failed, Stopped };

// Reads names from fd until its end, a read error, or a stop key, and then, for a command, until the
// command has exited. The keyboard and the machines are served between blocks, so a source that is slow
// or never ends cannot freeze the program.
Read read_names(int fd, const char *note, const Command *command)
{
    redraw_set_note(note, kAttrText);
    WordReader reader;
    std::vector<char> block(kBlockBytes);
    Read result = Read::Whole;
    bool at_end = false;
    // Keys typed meanwhile, other than a stop, are acted on once the reading ends, as if the reading
    // had taken no time.
    std::vector<int> typed;
    for (;;) {
        // The command's exit is reaped by the waits here.
        if (at_end && (!command || command->exited)) break;
        int key = at_end ? wait_key_for(kExitPollMs) : wait_key_or_fd(fd);
        if (key == ERR) continue;
        if (key != kWaitFdReady) {
            if (is_stop_key(key)) {
                result = Read::Stopped;
                // A stopped command ends with everything it started; no orphan goes on running.
                if (!command) break;
                kill(-command->pid, SIGKILL);
                at_end = true;
            } else if (key != kKeyPaste && key != kKeyUnknown && typed.size() < kKeptKeys) {
                typed.push_back(key);
            }
            continue;
        }
        // A block can name hundreds of machines: their logins start once the list has been drawn.
        tarvik_vt_hold_children();
        // Blocks for up to a slice of time before the keys and the machines get their turn again.
        long start = clock_now_ms();
        do {
            ssize_t n = read(fd, block.data(), block.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            if (n < 0) result = Read::Failed;
            if (n <= 0) {
                at_end = true;
                break;
            }
            reader.feed(block.data(), block.data() + n);
        } while (clock_now_ms() - start < kReadSliceMs);
    }
    if (result != Read::Stopped) reader.finish_word();
    redraw_set_note(nullptr, kAttrText);
    for (auto key = typed.rbegin(); key != typed.rend(); ++key) wait_unread_key(*key);
    return result;
}

void show_stopped(WINDOW *mb)
{
    minibuf_error(mb, "Stopped reading names; the machines read so far are added.", kAttrError);
}

// Starts the command through the shell in a process group of its own, its output on a pipe; -1 when
// it could not be started.
pid_t start_command(const std::string &line, Fd &out)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    Fd read_end(fds[0]), write_end(fds[1]);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(write_end.get(), STDOUT_FILENO);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0) return -1;
    // Also here, so that a stop right after the start reaches the whole group.
    setpgid(pid, pid);
    fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
    // A larger pipe lets a fast command run ahead between the program's reads.
    fcntl(read_end.get(), F_SETPIPE_SZ, 1024 * 1024);
    out = std::move(read_end);
    return pid;
}

void add_from_command(WINDOW *mb, const char *command, const std::string &rest)
{
    // The command must not read the user's terminal: it is in raw mode, where no key ends the input, so a
    // command that reads would take the user's keys and never return.
    std::string line = "exec </dev/null; " + std::string(command) + " " + rest + " 2>/dev/null";
    Fd out;
    Command c;
    c.pid = start_command(line, out);
    if (c.pid < 0) {
        minibuf_error(mb, "Can't execute command specified by QUILLOR_AT_COMMAND", kAttrError);
        return;
    }
    children_on_exit(c.pid, command_exited, &c);
    Read read = read_names(out.get(), "Adding machines supplied by command...", &c);
    bool failed = !WIFEXITED(c.status) || WEXITSTATUS(c.status) != 0;
    if (read == Read::Stopped)
        show_stopped(mb);
    else if (failed)
        minibuf_error(mb, "Command given by QUILLOR_AT_COMMAND exited with error.", kAttrError);
}

void add_from_file(WINDOW *mb, const std::string &path)
{
    // Non-blocking: a FIFO nobody writes to must not hold the program in open().
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    // A directory opens for reading but has no names to give; a terminal (the user's own, as
    // /dev/stdin) would take the keys meant for the program.
    if (fd.valid() && (fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode) || isatty(fd.get()))) fd.reset();
    if (!fd.valid()) {
        minibuf_error(mb, "Can't read that file.", kAttrError);
        return;
    }
    Read read = read_names(fd.get(), "Adding machines from file...", nullptr);
    // The names before the failure stay added, but the user must know the list may be incomplete.
    if (read == Read::Failed) minibuf_error(mb, "Can't read that file.", kAttrError);
    if (read == Read::Stopped) show_stopped(mb);
}

} // namespace

void add_machines(WINDOW *minibuf_window)
{
    std::string text;
    if (minibuf_prompt(minibuf_window, "Add: ", kAttrPrompt, text, kAddPromptSize))
        add_text(minibuf_window, text);
}

void add_text(WINDOW *minibuf_window, const std::string &text)
{
    if (text.empty() || text[0] != '@') {
        add_name(text);
        return;
    }
    std::string rest = text.substr(1);
    if (const char *command = std::getenv("QUILLOR_AT_COMMAND"))
        add_from_command(minibuf_window, command, rest);
    else
        add_from_file(minibuf_window, rest);
}
