#include "NotBuiltDevice.h"

namespace rovenza {

TNotBuiltDevice::TNotBuiltDevice(const Context& ctx, std::string familyName, std::int32_t deviceType)
    : TUSBDevice2(ctx), familyName_(std::move(familyName)) {
    DeviceTypeCode = deviceType;
}

void TNotBuiltDevice::Upgrade(std::string& message) {
    RunUpgrade(message, {kMsgError, TrailRule::Never}, [this](std::string& message) {
        message = "Programming \"" + familyName_ + "\" instruments is not available in this version: " +
                  std::to_string(Handles.size()) + (Handles.size() == 1 ? " instrument" : " instruments") +
                  " chosen, nothing written.";
        return false;
    });
}

}  // namespace rovenza
