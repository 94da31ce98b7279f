#pragma once
// What a soak benchmark watches stay flat: this process's open descriptors, threads and
// resident kilobytes.
#include <filesystem>
#include <fstream>
#include <unistd.h>

struct Resources {
    int Fds = 0, Threads = 0;
    long RssKb = 0;
};

inline Resources Now() {
    Resources r;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++r.Fds;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task"))
        ++r.Threads;
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    r.RssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return r;
}
