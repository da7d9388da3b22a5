#pragma once
// What both front ends set up around an upgrade: the backends (the host's, where no
// instrument exists, or the simulated bench), the context handed to the upgraders, and the
// bench dump when the run ends.
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "WatchedClock.h"
#include "platform/Context.h"
#if defined(_WIN32)
#include "platform/win32/Win32Backends.h"
#else
#include "platform/HostBackends.h"
#endif
#include "usb/CommandTrace.h"

namespace rovenza {

namespace sim {
class SimulatedBench;
}

struct WorldOptions {
    bool simulate = false;
    std::optional<std::filesystem::path> benchFile;  // --simulate=BENCH
    std::optional<std::filesystem::path> dumpDir;    // --bench-dump DIR
    std::string defaultClock = "virtual";            // the bench's clock when the file names none
    double speed = 0;                                // --speed N: virtual time N times real time
    std::filesystem::path programFolder;             // --program-folder DIR; empty: FolderRule.h decides
    // --trace FILE, else the environment variable ROVENZA_TRACE (on Windows an empty value
    // names "C:\USBLog.txt"); nothing: no trace.
    std::optional<std::filesystem::path> traceFile;
};

// Takes the options the front ends share (--simulate[=BENCH], --bench-dump DIR,
// --program-folder DIR, --trace FILE, --speed N) out of
// `args`, leaving every other argument in order. Returns an error text for bad usage.
std::optional<std::string> TakeWorldOptions(std::vector<std::string>& args, WorldOptions& options);

// A file the run writes beside the instruments (the command trace, the bench dump) cannot be
// written; the text names the file and the reason.
class LocalFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a front end may hand to the upgraders besides the backends.
struct WorldHooks {
    // The debugger output; nothing: standard error, each line after "[debug] ".
    DebugOutput* debug = nullptr;
    // Set to ask a running upgrade to stop where it safely can (Context::stop).
    const std::atomic<bool>* stop = nullptr;
};

class World {
public:
    // Throws LocalFault when the trace file cannot be written or the dump folder's
    // requests.log or waits.log cannot be created (the bench streams them as the run goes and
    // keeps no requests in memory), std::runtime_error with a readable message when the bench file is
    // unusable.
    World(const WorldOptions& options, Operator& op, WorldHooks hooks = {});
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const Context& context() const { return *context_; }
    // The context's clock, which counts the real time the upgrade spends in waits.
    const WatchedClock& clock() const { return *clock_; }
    bool simulated() const { return bench_ != nullptr; }
    sim::SimulatedBench* bench() { return bench_.get(); }
    // Writes the bench dump if one was asked for. Throws LocalFault when it cannot, or when the
    // command trace failed during the run.
    void finish();

private:
    WorldOptions options_;
    // Only with --simulate: the bench stands in for the host's instruments.
    std::unique_ptr<sim::SimulatedBench> bench_;
    // The host's own backends: the maker's driver on Windows; elsewhere no instrument exists.
#if defined(_WIN32)
    Win32DriverPort hostDriver_;
    Win32DeviceInterfaces hostInterfaces_;
    Win32Clock hostClock_;
    DebuggerOutput debug_;
#else
    NoDriverPort hostDriver_;
    NoDeviceInterfaces hostInterfaces_;
    SystemClock hostClock_;
    StderrDebugOutput debug_;
#endif
    std::unique_ptr<CommandTrace> trace_;
    std::unique_ptr<WatchedClock> clock_;
    std::unique_ptr<Context> context_;
};

}  // namespace rovenza
