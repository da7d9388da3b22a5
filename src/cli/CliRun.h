#pragma once
#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace rovenza {

// What the program's surroundings tell a run: whether standard error is a terminal and how
// wide, and the flag that Ctrl-C sets (nothing: no interrupt is watched).
struct CliEnvironment {
    bool terminal = false;
    int width = 80;
    const std::atomic<bool>* interrupt = nullptr;
};

// Runs the headless front end with the arguments after the program name. Progress, reasons and
// diagnostics go to `err`, the final message (or with --json the event stream) to `out`.
// Returns the exit status (ExitCodes.h).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment = {});

}  // namespace rovenza
