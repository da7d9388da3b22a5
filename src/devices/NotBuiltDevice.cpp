#include "NotBuiltDevice.h"

namespace rovenza {

TNotBuiltDevice::TNotBuiltDevice(const Context& ctx, std::string familyName, std::int32_t deviceType)
    : TUSBDevice(ctx), familyName_(std::move(familyName)) {
    DeviceTypeCode = deviceType;
}

void TNotBuiltDevice::Upgrade(std::string& message) {
    message = "Upgrading \"" + familyName_ + "\" instruments is not available in this version.";
}

}  // namespace rovenza
