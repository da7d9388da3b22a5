#pragma once
// The command line of the headless front end: the window's switches "\D", "\F", "\U", "\C"
// and conventional long options beside them.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "catalog/InstrumentCatalog.h"
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
    bool json = false;              // --json: standard output is a stream of JSON objects
    bool quiet = false;             // --quiet: only the final message
    bool verbose = false;           // --verbose: the diagnostics as well
    bool parallel = false;          // --parallel: several Velkaro USB instruments at once
    std::optional<std::string> inspect;  // --inspect PACKAGE
    std::vector<bool> deviceChoice;  // --choose 1,0,1 (empty: all devices)
    std::vector<std::string> select;  // --select SERIAL[,SERIAL...] (empty: all devices)
    // --module-type [SLOT=]TYPE: the type code to use where a module cannot tell its own, for
    // every slot or for one slot (index from 0); a slot's own answer comes first.
    std::optional<int> moduleType;
    std::array<std::optional<int>, kModuleSlots> slotModuleType;
};

struct CliParse {
    CliOptions options;
    std::optional<std::string> error;  // bad usage
};

CliParse ParseCliArguments(const std::vector<std::string>& args);

std::string CliUsage();

}  // namespace rovenza
