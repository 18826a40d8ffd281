// Everyday ways of ending quillor or feeding it names that used to crash it, freeze it, or leave the
// user's terminal or processes behind.
#include "support/quillor_session.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every running process whose command line holds `text`: what a test started, found from outside.
std::vector<pid_t> processes_with(const std::string &text)
{
    std::vector<pid_t> found;
    DIR *d = opendir("/proc");
    if (!d) return found;
    while (dirent *e = readdir(d)) {
        pid_t pid = static_cast<pid_t>(atoi(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::string cmd = read_file("/proc/" + std::string(e->d_name) + "/cmdline");
        for (char &ch : cmd)
            if (ch == '\0') ch = ' ';
        char state = 0;
        if (cmd.find(text) != std::string::npos && process_stat(pid, nullptr, &state, nullptr) &&
            state != 'Z')
            found.push_back(pid);
    }
    closedir(d);
    return found;
}

bool none_left(const std::string &text, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 50) {
        if (processes_with(text).empty()) return true;
        usleep(50000);
    }
    return processes_with(text).empty();
}

// Two hundred logins are still held or starting when the quit comes: the program must hang them all
// up and exit 0 with the terminal as it was, not crash in its exit path.
TEST(E2eRobustness, QuitWhileABatchIsStartingExitsZeroAndLeavesNoSsh)
{
    SilentListener port;
    ASSERT_GT(port.port(), 0);
    TempDir dir;
    std::string names;
    for (int i = 0; i < 200; ++i) names += port.name() + "\n";
    const std::string file = dir.write("names", names);
    QuillorSession q({}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    // All at once, as a user who quits right away types it.
    q.send(keys::F5 + "@" + file + keys::Enter + keys::F1 + "q" + "y" + keys::Enter);
    EXPECT_EQ(q.wait_status(20000), 0) << q.dump();
    EXPECT_EQ(q.modes_after(), q.modes_before());
    EXPECT_TRUE(q.terminal_modes_reset());
    EXPECT_TRUE(none_left(port.name(), 10000)) << processes_with(port.name()).size() << " ssh left";
}

// Sources of names that never end: reading them keeps the keyboard served, Ctrl-C (or Escape, or
// Ctrl-G) stops it, the names read so far stay, and a command is ended with everything it started.
TEST(E2eRobustness, EndlessNameSourcesCanBeStoppedAndKeepWhatWasRead)
{
    TempDir dir;
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Unique to this test process: other test runs may be at work on the same machine.
    const std::string nap = "sleep " + std::to_string(100000 + getpid());
    const std::string endless = "yes n" + std::to_string(getpid()) + ".invalid";
    struct Case {
        const char *what;
        std::string command; // QUILLOR_AT_COMMAND, or empty for a file
        std::string rest;
        std::string stop;
        int names; // machines added before the stop
    };
    const Case cases[] = {
        {"a FIFO nobody writes to", "", fifo, keys::CtrlC, 0},
        {"/dev/zero", "", "/dev/zero", keys::Escape, 0},
        {"a command that prints two names and hangs", "printf 'a.invalid b.invalid '; " + nap + " #", "",
         keys::CtrlC, 2},
        {"a command that never ends", endless + " #", "", "\x07", 256},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> env;
        if (!c.command.empty()) env.push_back("QUILLOR_AT_COMMAND=" + c.command);
        QuillorSession q({}, 25, 80, env);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        q.send(keys::F5 + "@" + c.rest + keys::Enter);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().find("Adding machines") != std::string::npos &&
                   q.list_count() >= std::min(c.names, 22);
        })) << q.dump();
        q.send(c.stop);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().rfind("Stopped reading names", 0) == 0;
        })) << q.dump();
        EXPECT_TRUE(has_colours(q.minibuf_cell(0), 7, 1, true));
        EXPECT_EQ(q.list_count(), std::min(c.names, 22)) << q.dump();
        for (const std::string &part : {nap, endless})
            EXPECT_TRUE(none_left(part, 5000)) << part << " runs on";
        q.send(" ");
        EXPECT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().find("singlecast") != std::string::npos;
        })) << q.dump();
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
}

// A slow source that ends is read to its end, in order, nothing lost, while keys are served; the
// user's own terminal is no source of names (it would take the keys).
TEST(E2eRobustness, SlowSourcesAreReadWholeAndTheTerminalIsRefused)
{
    {
        QuillorSession q({}, 25, 80);
        ASSERT_TRUE(q.skip_splash()) << q.dump();
        q.send(keys::F5 + "@/dev/stdin" + keys::Enter);
        ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
            return q.minibuf_text().rfind("Can't read that file.", 0) == 0;
        })) << q.dump();
        q.send(" ");
        EXPECT_EQ(q.list_count(), 0);
        EXPECT_EQ(q.quit(), 0) << q.dump();
    }
    QuillorSession q({}, 25, 80,
                     {"QUILLOR_AT_COMMAND=for i in 1 2 3 4 5; do echo s$i.invalid; sleep 0.2; done #"});
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    q.send(keys::F5 + "@" + keys::Enter);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        return q.list_count() == 5 && q.minibuf_text().find("Adding machines") == std::string::npos;
    })) << q.dump();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(q.list_row(i), " s" + std::to_string(i + 1) + ".inval ") << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

// Ended by a signal, quillor must end by that signal, so that a parent sees how it ended; run directly
// on a terminal here, without the wrapper shell that turns every end into an exit status.
TEST(E2eRobustness, FatalSignalsEndTheProcessAsThemselves)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        PtyProcess p({QUILLOR_BINARY}, 25, 80);
        ASSERT_TRUE(p.wait_for_text("Quillor")) << p.screen().all_text();
        p.send(" ");
        ASSERT_TRUE(p.wait_for_text("singlecast mode")) << p.screen().all_text();
        ASSERT_EQ(kill(p.pid(), sig), 0);
        int status = p.wait_exit();
        EXPECT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), sig) << status;
    }
}

} // namespace
