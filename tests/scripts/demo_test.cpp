// The demo behind `make run`: quillor logged into a private sshd four times, and nothing of it left
// listening, running or on disk however quillor ends.
#include "support/proc_files.h"
#include "support/pty_process.h"
#include "support/quillor_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kDemo = std::string(QUILLOR_SOURCE_DIR) + "/scripts/demo";
constexpr int kRows = 30, kCols = 110;

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The directories the demo made under `root` (its TMPDIR).
std::vector<std::string> entries(const std::string &root)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(root, ec)) found.push_back(e.path());
    return found;
}

// The addresses, as /proc/net/tcp writes them ("0100007F"), listening on TCP port `port`.
std::vector<std::string> listening_on(int port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    std::vector<std::string> addresses;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(read_file(table));
        std::string slot, local, remote, state, rest;
        while (lines >> slot >> local >> remote >> state && std::getline(lines, rest))
            if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == suffix)
                addresses.push_back(local.substr(0, local.size() - 5));
    }
    return addresses;
}

// The first child of `parent` running the program `comm`, waiting up to ten seconds; -1 when none.
pid_t child_named(pid_t parent, const std::string &comm)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        for (pid_t kid : process_children(parent)) {
            std::string name;
            if (process_stat(kid, &name, nullptr, nullptr) && name == comm) return kid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return -1;
}

// The demo's environment: its temporary directory under `root`, and quillor's sanitizers told that
// the demo's library comes before theirs on purpose.
std::vector<std::string> demo_env(const std::string &root)
{
    const char *asan = getenv("ASAN_OPTIONS");
    return {"TMPDIR=" + root, "ASAN_OPTIONS=" + std::string(asan && *asan ? std::string(asan) + ":" : "") +
                                  "verify_asan_link_order=0"};
}

struct Ending {
    const char *name;
    int status; // the demo's exit status
    std::function<void(PtyProcess &, pid_t quillor)> end;
};

TEST(ScriptsDemo, EveryEndingStopsTheSshdAndRemovesItsDirectory)
{
    const Ending endings[] = {
        {"quit", 0,
         [](PtyProcess &p, pid_t) {
             p.send(keys::F1);
             ASSERT_TRUE(p.wait_for_text("Select an option: "));
             p.send("q");
             ASSERT_TRUE(p.wait_for_text("Really quit"));
             p.send("y" + keys::Enter);
         }},
        {"SIGTERM to quillor", 128 + SIGTERM, [](PtyProcess &, pid_t q) { kill(q, SIGTERM); }},
        {"SIGTERM to the demo", 128 + SIGTERM, [](PtyProcess &p, pid_t) { kill(p.pid(), SIGTERM); }},
        {"SIGINT to the process group", 128 + SIGINT, [](PtyProcess &p, pid_t) { kill(-p.pid(), SIGINT); }},
        {"terminal closed", 128 + SIGHUP,
         [](PtyProcess &p, pid_t) {
             // Replaced in place, so that the reader thread sees end of file rather than a stale number.
             const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
             dup3(devnull, p.master(), O_CLOEXEC);
             close(devnull);
         }},
    };
    for (const Ending &ending : endings) {
        SCOPED_TRACE(ending.name);
        TempDir root;
        PtyProcess demo({"/bin/bash", kDemo, QUILLOR_BINARY}, kRows, kCols, demo_env(root.path));
        const pid_t quillor = child_named(demo.pid(), "quillor");
        ASSERT_GT(quillor, 0) << demo.screen().all_text();

        // Four machines named as their aliases, each logged in.
        ASSERT_TRUE(demo.wait_for([](const ScreenReader &s) {
            for (int i = 1; i <= 4; ++i)
                if (s.row_text(i).substr(1, 6) != "demo" + std::to_string(i) + " ") return false;
            return true;
        })) << demo.screen().all_text();
        ASSERT_TRUE(demo.wait_for_text("@demo1:~", 30000)) << demo.screen().all_text();

        const std::vector<std::string> dirs = entries(root.path);
        ASSERT_EQ(dirs.size(), 1u);
        const pid_t sshd = std::atoi(read_file(dirs[0] + "/sshd.pid").c_str());
        ASSERT_GT(sshd, 0);
        std::vector<pid_t> sessions;
        for (int tries = 0; tries < 1000 && sessions.size() < 4; ++tries) {
            sessions = process_children(sshd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(sessions.size(), 4u);
        const std::vector<pid_t> ssh = process_children(quillor);

        const std::string config = read_file(dirs[0] + "/sshd_config");
        const int port = std::atoi(config.c_str() + config.find("\nPort ") + 6);
        const std::vector<std::string> listening = listening_on(port);
        EXPECT_EQ(listening, std::vector<std::string>{"0100007F"}) << "sshd listens beyond 127.0.0.1";

        ending.end(demo, quillor);
        const int status = demo.wait_exit(20000);
        ASSERT_NE(status, -1) << "the demo runs on";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == ending.status) << status;
        EXPECT_TRUE(process_gone(quillor, 5000));
        EXPECT_TRUE(process_gone(sshd, 5000)) << "sshd left running";
        for (pid_t pid : sessions) EXPECT_TRUE(process_gone(pid, 5000)) << "a session of sshd left running";
        for (pid_t pid : ssh) EXPECT_TRUE(process_gone(pid, 5000)) << "an ssh of quillor left running";
        EXPECT_TRUE(entries(root.path).empty()) << "the demo's directory is still there";
    }
}

// Sixteen more machines added at once all log in (the demo's sshd turns none away), and each has a home
// of its own: a file one leaves there is not on the next.
TEST(ScriptsDemo, AddedMachinesAllLogInEachInAHomeOfItsOwn)
{
    TempDir root;
    PtyProcess demo({"/bin/bash", kDemo, QUILLOR_BINARY}, kRows, kCols, demo_env(root.path));
    auto bottom_says = [&](const std::string &text) {
        return demo.wait_for(
            [&](const ScreenReader &s) { return s.row_text(kRows - 1).find(text) != std::string::npos; },
            60000);
    };
    ASSERT_TRUE(bottom_says("4 up")) << demo.screen().all_text();
    demo.send(keys::F5);
    ASSERT_TRUE(demo.wait_for_text("Add: ")) << demo.screen().all_text();
    demo.send("demo[5-20]" + keys::Enter);
    ASSERT_TRUE(bottom_says("20 up  singlecast mode")) << demo.screen().all_text();

    // demo5, then demo6.
    demo.send(keys::F3 + keys::F3 + keys::F3 + keys::F3);
    demo.send("touch left-by-5; pwd\r");
    ASSERT_TRUE(demo.wait_for_text("/home/demo5", 10000)) << demo.screen().all_text();
    demo.send(keys::F3);
    demo.send("ls left-by-5\r");
    EXPECT_TRUE(demo.wait_for_text("No such file", 10000)) << demo.screen().all_text();
    demo.send(keys::F1);
    ASSERT_TRUE(demo.wait_for_text("Select an option: ")) << demo.screen().all_text();
    demo.send("qy" + keys::Enter);
    const int status = demo.wait_exit(20000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(entries(root.path).empty()) << "the demo's directory is still there";
}

// An ordinary user's sshd runs as that user and lets in only that user: the aliases must still work,
// and everything go afterwards.
TEST(ScriptsDemo, OrdinaryUserGetsAnSshdOfItsOwn)
{
    const std::string user = "qdemo" + std::to_string(getpid());
    if (geteuid() != 0 || std::system(("useradd -M -d /nonexistent -s /bin/bash " + user).c_str()) != 0)
        GTEST_SKIP() << "needs root and useradd to make a throw-away user";
    const std::unique_ptr<const char, void (*)(const char *)> remove_user(
        user.c_str(), [](const char *name) { std::system(("userdel " + std::string(name)).c_str()); });

    // The user runs a copy of the scripts it can reach, and a stand-in for quillor that logs into each
    // machine once and reports the demo's directory and sshd.
    TempDir dir;
    chmod(dir.path.c_str(), 0755);
    for (const char *script : {"/demo", "/install-deps"})
        std::filesystem::copy_file(QUILLOR_SOURCE_DIR + std::string("/scripts") + script, dir.path + script);
    const std::string report = dir.write("report", "");
    chmod(report.c_str(), 0666);
    const std::string stand_in = dir.write("quillor", R"SH(#!/bin/bash
exec >"$1" 2>&1
shift
echo "${NSS_WRAPPER_PASSWD%/passwd}"
cat "${NSS_WRAPPER_PASSWD%/passwd}/sshd.pid"
for name in "$@"; do /usr/bin/ssh "$name" 'echo "login=$(id -un)@$DEMO_HOST"'; done
)SH");
    chmod(stand_in.c_str(), 0755);

    PtyProcess demo(
        {"/usr/sbin/runuser", "-u", user, "--", "/bin/bash", dir.path + "/demo", stand_in, report}, kRows,
        kCols, {"TMPDIR=/tmp"});
    const int status = demo.wait_exit(60000);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << demo.screen().all_text();

    const std::string said = read_file(report);
    std::istringstream lines(said);
    std::string demo_dir;
    pid_t sshd = -1;
    lines >> demo_dir >> sshd;
    for (int i = 1; i <= 4; ++i)
        EXPECT_NE(said.find("\nlogin=" + user + "@demo" + std::to_string(i) + "\n"), std::string::npos)
            << said;
    ASSERT_GT(sshd, 0) << said;
    EXPECT_TRUE(process_gone(sshd, 5000)) << "sshd left running";
    EXPECT_FALSE(std::filesystem::exists(demo_dir)) << demo_dir;
}

} // namespace
