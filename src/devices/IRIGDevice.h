#pragma once
// "IRIG Clock": the USB microcontroller through its boot loader, then, once the new firmware
// runs, the FPGA configuration through the firmware's programming mode.
#include "USBDevice.h"
#include "protocols/FpgaConfig.h"

namespace rovenza {

class TIRIGDevice : public TUSBDevice {
public:
    static constexpr std::int32_t kDeviceType = 1;
    static constexpr std::int64_t kTotalCount = 5058;

    explicit TIRIGDevice(const Context& ctx);

    bool Open(const std::string& id) override;
    std::string GetInfoText() override { return {}; }
    // Ten characters of the instrument's name reply, from the fifth on.
    std::string GetDeviceName() override;
    std::int64_t GetTotalCount() override { return kTotalCount; }
    void Upgrade(std::string& message) override;

    // Programming mode, every block of a configuration read beforehand written and read back,
    // then the reset packet.
    bool WriteDataToFPGA(const FpgaConfiguration& configuration);

private:
    // After the reset: the instrument shows its firmware again under the path it had.
    bool RunsNewFirmware();
    // Keeps the refusal of the configuration text as the run's reason.
    void NoteFpgaRefusal(const FpgaTextResult& fpga);
    std::uint32_t resetResult_ = 0;
};

}  // namespace rovenza
