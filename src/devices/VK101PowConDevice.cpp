#include "VK101PowConDevice.h"

#include "package/WorkFolder.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {

TVK101PowConDevice::TVK101PowConDevice(const Context& ctx) : TUSBDevice(ctx) { DeviceTypeCode = kDeviceType; }

bool TVK101PowConDevice::Open(const std::string&) { return OpenFirstGeneration({kPidPowerController}); }

void TVK101PowConDevice::Upgrade(std::string& message) {
    message = kMsgError;
    ErrorTrail.clear();
    try {
        const UpgradeStart start = BeginUpgrade(message, "Instrument or FWU file is not VK101!");
        if (start == UpgradeStart::Stop) return;
        if (start == UpgradeStart::Go) {
            SetStageText("Uploading");
            if (WriteDataToUSBPic(WorkFile(kPicUsbHexName))) message = kMsgSuccess;
        }
        Close("");
    } catch (...) {
        message = kMsgException;
        Close("");
    }
    AppendTrailToPlainError(message);
}

}  // namespace rovenza
