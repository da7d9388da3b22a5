#pragma once
// The command line of the headless front end: the window's switches "\D", "\F", "\U", "\C"
// and conventional long options beside them.
#include <optional>
#include <string>
#include <vector>

#include "frontend/World.h"

namespace rovenza {

struct CliOptions {
    WorldOptions world;
    int family = 0;                 // list position; "IRIG Clock" unless told
    std::string packageFile;
    bool upload = false;            // "\U" given
    bool list = false;              // --list
    bool help = false;
    bool version = false;
    std::vector<bool> deviceChoice;  // --choose 1,0,1 (empty: all devices)
    std::vector<std::string> select;  // --select SERIAL[,SERIAL...] (empty: all devices)
    std::optional<int> moduleType;   // --module-type N
};

struct CliParse {
    CliOptions options;
    std::optional<std::string> error;  // bad usage
};

CliParse ParseCliArguments(const std::vector<std::string>& args);

std::string CliUsage();

}  // namespace rovenza
