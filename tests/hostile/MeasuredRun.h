#pragma once
// Runs a program as a child process and measures it: exit status, wall time and peak memory,
// under a watchdog that kills it when it runs too long.
//
// The peak memory (ru_maxrss) of a process also counts the memory of the process it was
// forked from at the time of its exec, so the child is started by a fresh, small copy of this
// test program (MeasuredRunMain), not by the test itself, which may hold large packages.
#include <filesystem>
#include <string>
#include <vector>

namespace rovenza {

struct MeasuredRun {
    int exitCode = -1;     // when it exited
    int signal = 0;        // when a signal ended it
    bool timedOut = false; // the watchdog killed it
    double seconds = 0;
    long peakKiB = 0;
    std::string out;
    std::string err;
};

// Runs `command` (its first item the program's path) in `workingFolder`, its input empty and
// its output collected. Throws std::runtime_error when it cannot be started.
MeasuredRun RunMeasured(const std::vector<std::string>& command, const std::filesystem::path& workingFolder,
                        int watchdogSeconds);

// The starter's side: when this program was started to run a child (its first argument the
// starter's flag), runs it, writes the measurements, and returns the exit status to end with;
// otherwise returns -1.
int MeasuredRunMain(int argc, char** argv);

}  // namespace rovenza
