#pragma once

// The scheduler's account of a running process, for benchmarks that run the real programs.

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <string>
#include <sys/types.h>

namespace bench {

// Calls `each` with the /proc folder of every thread of the process.
inline void forEachThread(pid_t pid, const std::function<void(const std::string& task)>& each) {
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') each(tasks + "/" + entry->d_name);
        ::closedir(dir);
    }
}

// CPU time of all threads of a process, in seconds, with nanosecond resolution (the scheduler's
// own account in /proc/PID/task/TID/schedstat).
inline double cpuSeconds(pid_t pid) {
    double total = 0;
    forEachThread(pid, [&](const std::string& task) {
        std::ifstream in(task + "/schedstat");
        double nanoseconds = 0;
        if (in >> nanoseconds) total += nanoseconds / 1e9;
    });
    return total;
}

// Context switches of all threads of a process: each is a wake-up (or a preemption).
inline long switches(pid_t pid) {
    long total = 0;
    forEachThread(pid, [&](const std::string& task) {
        std::ifstream in(task + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
    });
    return total;
}

} // namespace bench
