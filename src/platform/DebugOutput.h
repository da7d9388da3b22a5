#pragma once
#include <string>

namespace rovenza {

// Debugger output: one call per line.
class DebugOutput {
public:
    virtual ~DebugOutput() = default;
    virtual void write(const std::string& line) = 0;
};

}  // namespace rovenza
