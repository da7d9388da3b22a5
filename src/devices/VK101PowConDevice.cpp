#include "VK101PowConDevice.h"

#include "package/WorkFolder.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {

TVK101PowConDevice::TVK101PowConDevice(const Context& ctx) : TUSBDevice(ctx) {
    DeviceTypeCode = kDeviceType;
    firmwarePid_ = kPidPowerController;
}

bool TVK101PowConDevice::Open(const std::string&) { return OpenFirstGeneration({kPidPowerController}); }

bool TVK101PowConDevice::RunsNewFirmware() {
    // Back in firmware: the boot loader that was programmed has left the bus and a power
    // controller that was not listed before the restart has appeared.
    const std::string bootLoader = openedPath_;
    return AwaitFirmware([&](const FirstGenerationListing& listing) {
        if (!bootLoader.empty() && listing.contains(bootLoader)) return false;
        for (const auto& path : listing.withPid(firmwarePid_))
            if (!ContainsPath(pathsBeforeRestart_, path)) return true;
        return false;
    });
}

void TVK101PowConDevice::Upgrade(std::string& message) {
    ErrorTrail.clear();
    RunUpgrade(message, {kMsgException, TrailRule::Always}, [this](std::string& message) {
        if (!ManifestFits(message, "Instrument or FWU file is not VK101!")) return true;
        // The image is read and checked before the instrument leaves its firmware.
        const HexImage image = ReadWorkImage(kPicUsbHexName, kUsbImageLayout);
        SetStageText("Uploading");
        if (WriteDataToUSBPic(image) && RunsNewFirmware()) message = kMsgSuccess;
        return true;
    });
}

}  // namespace rovenza
