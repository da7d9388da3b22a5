#include "Families.h"

#include "IRIGDevice.h"
#include "TERVADevice.h"
#include "ULMODevice.h"
#include "VK101PowConDevice.h"
#include "VKZenaraModulDevice.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

int FindFamily(std::string_view name) {
    const std::string wanted = AsciiUpper(name);
    for (std::size_t i = 0; i < kFamilies.size(); ++i)
        if (AsciiUpper(kFamilies[i].listText) == wanted) return static_cast<int>(i);
    return -1;
}

std::unique_ptr<TUSBDevice> CreateUpgrader(int listPosition, const Context& ctx) {
    if (listPosition < 0 || listPosition >= static_cast<int>(kFamilies.size())) return nullptr;
    const FamilyEntry& family = kFamilies[static_cast<std::size_t>(listPosition)];
    switch (family.deviceType) {
    case TIRIGDevice::kDeviceType:
        return std::make_unique<TIRIGDevice>(ctx);
    case TULMODevice::kDeviceType:
        return std::make_unique<TULMODevice>(ctx);
    case TTERVADevice2::kDeviceType:
        return std::make_unique<TTERVADevice2>(ctx);
    case TVK101PowConDevice::kDeviceType:
        return std::make_unique<TVK101PowConDevice>(ctx);
    case TVKZenaraModulDevice::kDeviceType:
        return std::make_unique<TVKZenaraModulDevice>(ctx);
    default:
        return nullptr;
    }
}

}  // namespace rovenza
