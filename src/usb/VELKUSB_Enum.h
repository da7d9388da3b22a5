#pragma once
// Locating first-generation instruments by the product identifier in their device paths.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Context.h"

namespace rovenza {

// The text between "PID_" and the next "#" of the upper-cased path.
bool ExtractPid(const std::string& path, std::string& pid);

// The instrument's serial number as its device path carries it: the text between the second
// and the third "#" ("\\?\usb#vid_1234&pid_0db0#PC000001#{...}"), or empty when the path
// has no such part (the fixed path).
std::string ExtractSerial(const std::string& path);

// How a failed interface-detail query is reported: "Error " and the system code in decimal.
std::string DetailErrorText(std::uint32_t code);

// Appends the paths of the first-generation class whose identifier is the boot loader's.
// A failed detail query is reported in a message box.
void FindDevicePaths(const Context& ctx, std::vector<std::string>& paths);

// Appends the paths of the first-generation class whose identifier equals `pid` upper-cased.
// A failed detail query is reported on the debugger output.
void FindDevicePathsByPid(const Context& ctx, std::string_view pid, std::vector<std::string>& paths);

// Every first-generation interface the walk lists now: the paths it could read, and how many
// entries it could not (their detail query failed). Reports nothing.
struct FirstGenerationListing {
    std::vector<std::string> paths;
    std::size_t unreadable = 0;
    std::size_t size() const { return paths.size() + unreadable; }
    // The listed paths whose identifier equals `pid` (upper-case).
    std::vector<std::string> withPid(std::string_view pid) const;
    bool contains(const std::string& path) const;
};
FirstGenerationListing ListFirstGeneration(const Context& ctx);

std::string AsciiUpper(std::string_view text);
// Device paths compare without regard to ASCII case, as the system treats them.
bool ContainsPath(const std::vector<std::string>& paths, const std::string& path);

}  // namespace rovenza
