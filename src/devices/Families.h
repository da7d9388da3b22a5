#pragma once
// The upgrader of each instrument family; the families themselves (kFamilies, in the order of
// the main window's list) are in the instrument catalogue.
#include <memory>
#include <string_view>

#include "catalog/InstrumentCatalog.h"
#include "platform/Context.h"

namespace rovenza {

class TUSBDevice;

// The list position whose text equals `name` without regard to ASCII case, or -1.
int FindFamily(std::string_view name);

// The upgrader of the family at `listPosition` (0 to 4). Families that this build cannot
// upgrade yet get an upgrader whose run ends with a message saying so.
std::unique_ptr<TUSBDevice> CreateUpgrader(int listPosition, const Context& ctx);

}  // namespace rovenza
