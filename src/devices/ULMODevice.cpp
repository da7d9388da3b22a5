#include "ULMODevice.h"

#include "package/WorkFolder.h"
#include "protocols/CanUpload.h"
#include "protocols/IntelHex.h"
#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {

TULMODevice::TULMODevice(const Context& ctx) : TUSBDevice(ctx) {
    DeviceTypeCode = kDeviceType;
    firmwarePid_ = kPidUlmo;
}

bool TULMODevice::Open(const std::string&) { return OpenFirstGeneration({kPidUlmo, kPidBootLoader}); }

std::string TULMODevice::GetDeviceName() { return QueryDevice(std::string(kNameQueryCommand)).substr(4, 4); }

void TULMODevice::Upgrade(std::string& message) {
    // This family keeps its trail to itself: the message never carries it.
    RunUpgrade(message, {kMsgError, TrailRule::Never}, [this](std::string& message) {
        if (!ManifestFits(message, "Instrument or FWU file is not ULMO!")) return true;
        // Both images are read and checked before the instrument leaves its firmware; a
        // refusal raises and ends the run with "Error".
        const HexImage usbImage = ReadWorkImage(kUlmoUsbHexName, kUsbImageLayout);
        const HexImage canImage = ReadCanImage();
        SetStageText("USB Pic uploading");
        if (!WriteDataToUSBPic(usbImage)) return true;
        Close("");
        if (ReopenAfterRestart() && WriteDataToCAN(canImage)) message = kMsgSuccess;
        return true;
    });
}

HexImage TULMODevice::ReadCanImage() {
    return ReadWorkImage(kUlmoCanHexName,
                         [&](const std::filesystem::path& file) { return ReadCanHexImage(file, ctx_.debug); });
}

bool TULMODevice::WriteDataToCAN(const HexImage& image) {
    const std::string instrument = CurrentInstrument();
    try {
        const Handle handle = FirstHandle();
        std::uint32_t refused = 0;  // blocks not acknowledged
        std::uint8_t reply[kCanPacketSize] = {};
        const std::string blocks = std::to_string(kCanBlockCount);
        auto failed = [&](std::uint32_t b, std::string_view half, std::uint32_t code) {
            NoteReason(ReasonKind::Instrument, instrument + ": " + std::string(half) + " failed at CAN block " +
                                                   std::to_string(b + 1) + " of " + blocks + " (error " +
                                                   std::to_string(code) + ")");
            return false;
        };
        for (std::uint32_t b = 0; b < kCanBlockCount; ++b) {
            // Between blocks the USB microcontroller runs its new firmware and can send the CAN
            // image again.
            if (b > 0 && StopHere("after block " + std::to_string(b) + " of " + blocks + " of " + instrument +
                                  "'s CAN image"))
                return false;
            Step();
            const std::uint8_t* block = image.bytes.data() + b * kCanBlockSize;
            const auto address = static_cast<std::uint16_t>(kCanFirstAddress + kCanBlockSize * b);
            const CanPacket first = CanFirstHalf(address, block);
            std::uint32_t replyLimit = kCanPacketSize;
            if (const auto code = CommandExchange(ctx_, handle, first.data(), kCanPacketSize, kDefaultParameter,
                                                  kDefaultParameter, reply, replyLimit))
                return failed(b, "CAN_FIRST", code);
            const CanPacket second = CanSecondHalf(block);
            replyLimit = kCanPacketSize;
            if (const auto code = CommandExchange(ctx_, handle, second.data(), kCanPacketSize, kDefaultParameter,
                                                  kDefaultParameter, reply, replyLimit))
                return failed(b, "CAN_SECOND", code);
            // A block that is not acknowledged does not stop the upload; the stage fails at its end.
            if (replyLimit < 1 || reply[0] != kCanBlockAccepted) ++refused;
        }
        if (!FinishCANUpload()) {
            NoteReason(ReasonKind::Instrument, instrument + ": the CAN microcontroller did not accept the end of the upload");
            return false;
        }
        if (refused != 0)
            NoteReason(ReasonKind::Instrument, instrument + ": the CAN microcontroller did not acknowledge " +
                                                   std::to_string(refused) + " of " + blocks + " blocks");
        return refused == 0;
    } catch (const std::exception& e) {
        NoteReason(ReasonKind::Instrument, instrument + ": the CAN stage ended with an error: " + e.what());
        return false;
    } catch (...) {
        return false;
    }
}

bool TULMODevice::FinishCANUpload() {
    try {
        const Handle handle = FirstHandle();
        const CanPacket command = CanFinishCommand();
        std::uint8_t reply[kCanPacketSize] = {};
        std::uint32_t replyLimit = kCanPacketSize;
        if (CommandExchange(ctx_, handle, command.data(), kCanPacketSize, kDefaultParameter, kDefaultParameter, reply,
                            replyLimit) != 0)
            return false;
        return replyLimit >= 1 && reply[0] == kCanFinishAccepted;
    } catch (...) {
        return false;
    }
}

}  // namespace rovenza
