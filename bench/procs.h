// What /proc tells about the processes under measurement.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Nanoseconds of CPU the process has used so far (all its threads); -1 when it is gone.
int64_t proc_cpu_ns(pid_t pid);
// Resident memory of the process in KiB; -1 when it is gone.
long proc_rss_kib(pid_t pid);
// Times the process went to sleep of its own accord and was woken (voluntary context switches of its
// main thread); -1 when it is gone.
long proc_wakeups(pid_t pid);
// Living descendants of `root` whose command name is `comm`.
int proc_count_descendants(pid_t root, const std::string &comm);
// Load average over the last minute.
double proc_load1();
// "N cores, <CPU model>" of this machine.
std::string proc_machine();
