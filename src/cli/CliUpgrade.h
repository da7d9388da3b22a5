#pragma once
// The command line's upgrade: the upgrader runs on a worker thread while the main thread
// samples its stage and progress, passes diagnostics and message boxes on, notices Ctrl-C, and
// sums the run up in its final message, reason and exit status.
#include <atomic>
#include <chrono>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CliOutput.h"
#include "frontend/World.h"
#include "platform/DebugOutput.h"

namespace rovenza {

struct CliOptions;

// The debugger output and the message boxes of a command-line run, from any thread, kept until
// the main thread hands them to the output.
class CliNotes final : public DebugOutput {
public:
    struct Note {
        bool messageBox;    // a message box the window would show; else a debugger line
        std::string title;  // message boxes only
        std::string text;
    };
    void write(const std::string& line) override;
    void messageBox(const std::string& title, const std::string& text);
    std::vector<Note> take();
    // Hands every note kept so far to `reporter`.
    void passOn(CliReporter& reporter);

private:
    std::mutex mutex_;
    std::vector<Note> notes_;
};

// Tells whether the upgrade waits on its instrument: its progress (stage and count) has stood
// still for a second or more, and at least half of that time was spent in the clock's waits
// (a restart, an erase), not in an exchange or in work of its own.
class StillnessWatch {
public:
    static constexpr std::chrono::milliseconds kStill{1000};

    // How long the progress has stood still while waiting, or nothing while it moves (or works).
    // `now` is any steady time; `waited` the clock's total time in waits (WatchedClock::waited).
    std::optional<std::chrono::milliseconds> sample(const std::string& stage, std::int64_t done,
                                                    std::chrono::steady_clock::time_point now,
                                                    std::chrono::nanoseconds waited);

private:
    bool started_ = false;
    std::string stage_;
    std::int64_t done_ = 0;
    std::chrono::steady_clock::time_point since_;
    std::chrono::nanoseconds waitedSince_{0};
};

// Runs the upgrade of the chosen family and package in `world`, reports it on `reporter`, writes
// the bench dump, and returns the exit status. `interrupt` is the flag Ctrl-C sets (it is also
// the world's stop flag).
int RunCliUpgrade(const CliOptions& options, World& world, CliNotes& notes, CliReporter& reporter,
                  const std::atomic<bool>* interrupt);

}  // namespace rovenza
