#pragma once
// What the command line shows while and after an upgrade runs, in one of its forms: a line that
// redraws itself on a terminal, plain lines elsewhere (a pipe, a file, CI), or a stream of JSON
// objects on standard output (--json); --quiet keeps only the final message, --verbose adds the
// diagnostics. Every form gets the same events from the run; only the main thread calls them.
// Instruments upgraded at once (--parallel) each have progress of their own: a redrawn line
// each on a terminal, lines of their own elsewhere, events naming them in JSON.
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CliOutcome.h"
#include "devices/USBDevice.h"

namespace rovenza {

struct CliOptions;

// Where standard error goes: a terminal (and its width in columns), or anything else.
struct CliDisplay {
    bool terminal = false;
    int width = 80;
};

// One look at the running upgrade.
struct ProgressSample {
    std::string stage;       // the stage text ("Device 2/3 - " first when several instruments run)
    std::vector<std::string> passedStages;  // stages that began and ended since the last sample
    std::string instrument;  // the serial number when the run works on one instrument
    // --parallel: the instrument's place among the chosen ones, from 1, each with progress of its
    // own (`instrument` its serial number); 0: the run as a whole.
    int index = 0;
    std::int64_t done = 0;
    std::int64_t total = 0;
    int percent = 0;  // as the window computes it
    std::chrono::milliseconds elapsed{0};
    // How long the progress has stood still while the upgrade sat in its waits on the
    // instrument (a restart, an erase); nothing while it moves.
    std::optional<std::chrono::milliseconds> waiting;
};

// How the run ended.
struct CliRunResult {
    std::string message;  // the final line: the family's message, or "Interrupted"; empty: no run
    CliOutcome outcome;
    std::optional<std::string> reason;  // why, in plain words
    std::optional<std::string> fault;   // a local fault after the run (bench dump, trace)
};

class CliReporter {
public:
    virtual ~CliReporter() = default;
    virtual void start(std::string_view family, const std::string& package) = 0;
    virtual void instrument(const RunInstrument& instrument) = 0;
    virtual void progress(const ProgressSample& sample) = 0;
    // A line of the debugger output.
    virtual void diagnostic(const std::string& line) = 0;
    // A message box the window would show (title may be empty).
    virtual void message(const std::string& title, const std::string& text) = 0;
    // The first Ctrl-C.
    virtual void interrupted() = 0;
    virtual void result(const CliRunResult& result) = 0;
};

std::unique_ptr<CliReporter> MakeReporter(const CliOptions& options, std::ostream& out, std::ostream& err,
                                          const CliDisplay& display);

// The command line's voice for everything it says on standard error: "rovenza-cli: " and the
// text, without a trailing period. Texts the command line writes itself start in lower case;
// diagnostics and message boxes are quoted as the system words them.
std::string CliVoice(std::string_view text);

// "m:ss", or "h:mm:ss" from an hour on.
std::string ElapsedText(std::chrono::milliseconds elapsed);

// The terminal's progress line for `sample`, at most `width` - 1 columns.
std::string TerminalLine(const ProgressSample& sample, int width);

// What the first Ctrl-C tells the operator.
inline constexpr std::string_view kInterruptNotice =
    "interrupted: the upgrade stops at its next point where the instrument can be left safely, "
    "which may leave it in its boot loader; press Ctrl-C again to stop at once";

}  // namespace rovenza
