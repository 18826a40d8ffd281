#include "procs.h"

#include "support/proc_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProcInfo {
    pid_t ppid = 0;
    std::string comm;
};

// Every living process with its parent and command name.
std::map<pid_t, ProcInfo> proc_table()
{
    std::map<pid_t, ProcInfo> table;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        ProcInfo info;
        char state = 0;
        if (process_stat(pid, &info.comm, &state, &info.ppid) && state != 'Z') table[pid] = info;
    }
    return table;
}

} // namespace

int64_t proc_cpu_ns(pid_t pid)
{
    // schedstat counts in nanoseconds; the tick counts of /proc/<pid>/stat are too coarse for an idle
    // program over ten seconds.
    long long ns = -1;
    const std::string text = read_file("/proc/" + std::to_string(pid) + "/schedstat");
    if (std::sscanf(text.c_str(), "%lld", &ns) != 1) return -1;
    return ns;
}

namespace {

// A number from a "Name: value" line of /proc/<pid>/status; -1 when the process is gone.
long status_field(pid_t pid, const std::string &name)
{
    std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    }
    return -1;
}

} // namespace

long proc_rss_kib(pid_t pid)
{
    return status_field(pid, "VmRSS");
}

long proc_wakeups(pid_t pid)
{
    return status_field(pid, "voluntary_ctxt_switches");
}

int proc_count_descendants(pid_t root, const std::string &comm)
{
    auto table = proc_table();
    int count = 0;
    for (const auto &[pid, info] : table) {
        if (info.comm != comm) continue;
        // Walk up; the chain ends at pid 1 or at a process that is gone.
        for (pid_t p = info.ppid; p > 1;) {
            if (p == root) {
                ++count;
                break;
            }
            auto it = table.find(p);
            if (it == table.end()) break;
            p = it->second.ppid;
        }
    }
    return count;
}

double proc_load1()
{
    double load = 0;
    std::sscanf(read_file("/proc/loadavg").c_str(), "%lf", &load);
    return load;
}

std::string proc_machine()
{
    std::istringstream in(read_file("/proc/cpuinfo"));
    std::string line, model = "unknown CPU";
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            size_t colon = line.find(':');
            if (colon != std::string::npos) model = line.substr(colon + 2);
            break;
        }
    }
    return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + model;
}
