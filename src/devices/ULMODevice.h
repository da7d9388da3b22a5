#pragma once
// "ULMO": the USB microcontroller through its boot loader, then the CAN microcontroller,
// whose image the new USB firmware forwards block by block.
#include "USBDevice.h"

namespace rovenza {

class TULMODevice : public TUSBDevice {
public:
    static constexpr std::int32_t kDeviceType = 2;
    static constexpr std::int64_t kTotalCount = 1963;

    explicit TULMODevice(const Context& ctx);

    bool Open(const std::string& id) override;
    std::string GetInfoText() override { return {}; }
    // Four characters of the instrument's name reply, from the fifth on.
    std::string GetDeviceName() override;
    std::int64_t GetTotalCount() override { return kTotalCount; }
    void Upgrade(std::string& message) override;

    // Sends the 1,000 blocks of the CAN image; true when every block was acknowledged and the
    // closing command accepted.
    bool WriteDataToCAN(const HexImage& image);
    bool FinishCANUpload();

private:
    // The CAN microcontroller's image from the work folder; a segment record (the CAN image
    // has none) is refused. Throws as ReadWorkImage does.
    HexImage ReadCanImage();
};

}  // namespace rovenza
