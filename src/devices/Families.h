#pragma once
// The five instrument families, in the order of the main window's list. The list position
// plus one is the family's device type number.
#include <array>
#include <memory>
#include <string_view>

#include "platform/Context.h"

namespace rovenza {

class TUSBDevice;

struct FamilyInfo {
    std::string_view listText;
    int deviceType;
};

inline constexpr std::array<FamilyInfo, 5> kFamilies{{
    {"IRIG Clock", 1},
    {"ULMO", 2},
    {"Velkaro USB", 3},
    {"VK101 Power Controller", 4},
    {"VKUSB Zenara - Modules", 5},
}};

// The list position whose text equals `name` without regard to ASCII case, or -1.
int FindFamily(std::string_view name);

// The upgrader of the family at `listPosition` (0 to 4). Families that this build cannot
// upgrade yet get an upgrader whose run ends with a message saying so.
std::unique_ptr<TUSBDevice> CreateUpgrader(int listPosition, const Context& ctx);

}  // namespace rovenza
