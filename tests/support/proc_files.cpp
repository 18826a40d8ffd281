// Reading processes' state, children and descriptors from /proc.
#include "support/proc_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool all_digits(const std::string &s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Children of `parent` whose state `want` accepts.
template <typename Want> std::vector<pid_t> children_in_state(pid_t parent, Want want)
{
    std::vector<pid_t> kids;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (!all_digits(name)) continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        char state = 0;
        pid_t ppid = 0;
        if (process_stat(pid, nullptr, &state, &ppid) && ppid == parent && want(state)) kids.push_back(pid);
    }
    return kids;
}

} // namespace

std::vector<OpenFile> process_files(pid_t pid)
{
    std::vector<OpenFile> files;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename();
        if (!all_digits(name)) continue;
        const std::string path = dir + "/" + name;
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) continue; // closed while we looked
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) continue;
        files.push_back({std::stoi(name), std::string(target, static_cast<size_t>(n)), st.st_dev, st.st_ino});
    }
    std::sort(files.begin(), files.end(), [](const OpenFile &a, const OpenFile &b) { return a.fd < b.fd; });
    return files;
}

bool process_stat(pid_t pid, std::string *comm, char *state, pid_t *ppid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << in.rdbuf();
    const std::string stat = text.str();
    // The command name may hold blanks and parentheses; the fields after the last ")" do not.
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return false;
    char st = 0;
    int pp = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &st, &pp) != 2) return false;
    if (comm) *comm = stat.substr(open + 1, close - open - 1);
    if (state) *state = st;
    if (ppid) *ppid = pp;
    return true;
}

std::vector<pid_t> process_children(pid_t parent)
{
    return children_in_state(parent, [](char state) { return state != 'Z'; });
}

std::vector<pid_t> process_zombies(pid_t parent)
{
    return children_in_state(parent, [](char state) { return state == 'Z'; });
}
