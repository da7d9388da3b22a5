#pragma once
// Locating first-generation instruments by the product identifier in their device paths.
#include <string>
#include <string_view>
#include <vector>

#include "platform/Context.h"

namespace rovenza {

// The text between "PID_" and the next "#" of the upper-cased path.
bool ExtractPid(const std::string& path, std::string& pid);

// Appends the paths of the first-generation class whose identifier is the boot loader's.
// A failed detail query is reported in a message box.
void FindDevicePaths(const Context& ctx, std::vector<std::string>& paths);

// Appends the paths of the first-generation class whose identifier equals `pid` upper-cased.
// A failed detail query is reported on the debugger output.
void FindDevicePathsByPid(const Context& ctx, std::string_view pid, std::vector<std::string>& paths);

std::string AsciiUpper(std::string_view text);

}  // namespace rovenza
