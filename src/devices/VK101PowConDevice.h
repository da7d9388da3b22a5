#pragma once
// "VK101 Power Controller": one programmable part, the USB microcontroller, written through
// its boot loader.
#include "USBDevice.h"

namespace rovenza {

class TVK101PowConDevice : public TUSBDevice {
public:
    static constexpr std::int32_t kDeviceType = 4;
    static constexpr std::int64_t kTotalCount = 963;

    explicit TVK101PowConDevice(const Context& ctx);

    bool Open(const std::string& id) override;
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "VK101"; }
    std::int64_t GetTotalCount() override { return kTotalCount; }
    void Upgrade(std::string& message) override;

private:
    bool RunsNewFirmware();
};

}  // namespace rovenza
