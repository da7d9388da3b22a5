#pragma once
// Runs the command line in-process, its program folder a test's own.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"

namespace rovenza {

struct CliOutcome {
    int status;
    std::string out;
    std::string err;
};

inline CliOutcome RunCliIn(const std::filesystem::path& programFolder, std::vector<std::string> args) {
    args.insert(args.begin(), {"--program-folder", programFolder.string()});
    std::ostringstream out, err;
    const int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

inline std::string FileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace rovenza
