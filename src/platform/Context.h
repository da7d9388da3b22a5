#pragma once
// Everything an upgrade reaches of the outside world, handed to every upgrader. Each test
// builds its own context, so tests do not share a driver, a clock or a folder.
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "Clock.h"
#include "DebugOutput.h"
#include "DeviceInterfaces.h"
#include "DriverPort.h"
#include "Operator.h"
#include "ProgramFolders.h"

namespace rovenza {

class CommandTrace;

struct Context {
    DriverPort& driver;
    DeviceInterfaces& interfaces;
    Clock& clock;
    DebugOutput& debug;
    Operator& op;
    // The work folder and the package folder: by default "Temp" and "FWUs" in the program's
    // folder (a context built from one folder gets those two).
    ProgramFolders folders;
    // The command trace of the first-generation channel, or nothing when it is off.
    CommandTrace* trace = nullptr;
    // Set by a front end to ask a running upgrade to stop. The upgraders look at it only where
    // the instrument can be left as it is (between rows and blocks, in waits; never inside an
    // exchange); a stage without such a point runs on. Nothing: never asked.
    const std::atomic<bool>* stop = nullptr;
    // When not empty, the first-generation walk lists only the instruments whose device path
    // carries one of these serial numbers (ASCII case ignored), and the fixed device path, which
    // may reach any instrument, is never opened: an upgrade then sees the chosen instrument
    // alone. Empty: every instrument, as the window sees them.
    std::vector<std::string> firstGenerationSerials{};
};

// The folder that holds the running executable (falls back to the current folder).
std::filesystem::path ExecutableFolder();

}  // namespace rovenza
