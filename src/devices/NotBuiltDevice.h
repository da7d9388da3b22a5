#pragma once
// Stands in for a family whose upgrade this build does not carry yet: its run ends at once
// with a message saying so, before anything is unpacked or opened.
#include <string>

#include "USBDevice.h"

namespace rovenza {

class TNotBuiltDevice : public TUSBDevice {
public:
    TNotBuiltDevice(const Context& ctx, std::string familyName, std::int32_t deviceType);

    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return familyName_; }
    std::int64_t GetTotalCount() override { return 1; }
    void Upgrade(std::string& message) override;

private:
    std::string familyName_;
};

}  // namespace rovenza
