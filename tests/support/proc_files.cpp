// Reading a process's descriptors and its unreaped children from /proc.
#include "support/proc_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{

bool all_digits(const std::string &s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
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
        struct stat st {
        };
        if (stat(path.c_str(), &st) != 0) continue;
        files.push_back({std::stoi(name), std::string(target, static_cast<size_t>(n)), st.st_dev, st.st_ino});
    }
    std::sort(files.begin(), files.end(), [](const OpenFile &a, const OpenFile &b) { return a.fd < b.fd; });
    return files;
}

std::vector<pid_t> process_zombies(pid_t parent)
{
    std::vector<pid_t> zombies;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (!all_digits(name)) continue;
        std::ifstream in("/proc/" + name + "/stat");
        std::stringstream text;
        text << in.rdbuf();
        const std::string stat = text.str();
        // The command name may hold blanks and parentheses; the fields after the last ")" do not.
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
        if (ppid == parent && state == 'Z') zombies.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return zombies;
}
