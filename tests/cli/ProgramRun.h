#pragma once
// Runs the real rovenza-cli program: its standard output and standard error on pipes, or its
// standard error on a pseudo-terminal, optionally sending it SIGINT once its standard error
// shows what the test waits for.
#include <functional>
#include <string>
#include <vector>

namespace rovenza {

struct ProgramResult {
    int status;  // the exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;  // on a terminal: what the terminal received
};

struct ProgramRunOptions {
    bool terminal = false;  // standard error on a pseudo-terminal of `columns` columns
    int columns = 100;
    // Called with standard error so far; when it first returns true the program gets SIGINT.
    std::function<bool(const std::string& err)> interruptWhen;
};

ProgramResult RunProgram(const std::vector<std::string>& args, const ProgramRunOptions& options = {});

}  // namespace rovenza
