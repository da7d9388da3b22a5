#include "IRIGDevice.h"

#include "package/WorkFolder.h"
#include "protocols/FpgaConfig.h"
#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {

namespace {
constexpr std::uint32_t kReplyBufferSize = 64;
constexpr std::uint32_t kAfterProgrammingModeMs = 1000;
constexpr std::uint32_t kAfterResetMs = 1000;
}  // namespace

TIRIGDevice::TIRIGDevice(const Context& ctx) : TUSBDevice(ctx) {
    DeviceTypeCode = kDeviceType;
    firmwarePid_ = kPidIrigClock;
}

bool TIRIGDevice::Open(const std::string&) { return OpenFirstGeneration({kPidIrigClock, kPidBootLoader}); }

std::string TIRIGDevice::GetDeviceName() { return QueryDevice(std::string(kNameQueryCommand)).substr(4, 10); }

void TIRIGDevice::Upgrade(std::string& message) {
    ErrorTrail.clear();
    RunUpgrade(message, {kMsgException, TrailRule::Always}, [this](std::string& message) {
        if (!ManifestFits(message, "Instrument or FWU file is not IRIG CLOCK!")) return true;
        // Both images are read and checked before the instrument leaves its firmware.
        const HexImage image = ReadWorkImage(kPicUsbHexName, kUsbImageLayout);
        const FpgaTextResult fpga = ReadFpgaConfiguration(WorkFile(kFpgaHexName));
        if (!fpga.configuration) {
            ctx_.debug.write("FPGA configuration refused: " + fpga.reason);
            NoteFpgaRefusal(fpga);
            return true;
        }
        SetStageText("USB Pic uploading");
        if (!WriteDataToUSBPic(image)) return true;
        Close("");
        if (!ReopenAfterRestart()) return true;
        SetStageText("FPGA uploading");
        if (WriteDataToFPGA(*fpga.configuration) && RunsNewFirmware()) message = kMsgSuccess;
        return true;
    });
}

void TIRIGDevice::NoteFpgaRefusal(const FpgaTextResult& fpga) {
    const std::string name(kFpgaHexName);
    std::string why = fpga.reason;
    // The reader names the file by its path in the work folder; the reason names it as the
    // package does.
    const std::string path = WorkFile(kFpgaHexName).string();
    if (const auto at = why.find(path); at != std::string::npos) why.replace(at, path.size(), name);
    if (fpga.error == FpgaTextError::Missing) why = name + ": missing from the package";
    NoteReason(ReasonKind::Package, why);
}

bool TIRIGDevice::RunsNewFirmware() {
    if (resetResult_ != 0) {
        // The instrument never received the reset: it is still in programming mode.
        ctx_.debug.write("The FPGA reset was not delivered (code " + std::to_string(resetResult_) + ")");
        NoteReason(ReasonKind::Instrument, CurrentInstrument() + " did not receive the FPGA reset (error " +
                                               std::to_string(resetResult_) + "); it stays in programming mode");
        AppendTrail("Not running the new firmware");
        return false;
    }
    const std::string firmware = openedPath_;
    return AwaitFirmware(
        [&](const FirstGenerationListing& listing) { return !firmware.empty() && listing.contains(firmware); });
}

bool TIRIGDevice::WriteDataToFPGA(const FpgaConfiguration& configuration) {
    const Handle handle = FirstHandle();
    std::uint8_t reply[kReplyBufferSize] = {};
    std::uint32_t replyLimit = kReplyBufferSize;
    bool result = false;
    const std::string instrument = CurrentInstrument();
    std::string at;  // where the stage is, for the reason of a failure
    std::uint32_t code = 0;
    auto exchange = [&](const std::uint8_t* command, std::uint32_t length, std::uint32_t readParameter) {
        code = CommandExchange(ctx_, handle, command, length, kDefaultParameter, readParameter, reply, replyLimit);
        return code;
    };
    auto failed = [&](std::string_view step, std::string_view what) {
        AppendTrail(step);
        NoteReason(ReasonKind::Instrument, instrument + ": " + std::string(what) + at + " (error " +
                                               std::to_string(code) + ")");
        return false;
    };
    try {
        Step();
        replyLimit = kReplyBufferSize;
        if (exchange(kFpgaProgrammingMode.data(), kFpgaProgrammingMode.size(), kProgrammingModeReadParameter) != 0)
            return failed("PRMD", "the FPGA programming mode command failed");
        ctx_.clock.sleep(kAfterProgrammingModeMs);
        Step();
        replyLimit = kReplyBufferSize;
        if (exchange(kFpgaSecondCommand.data(), kFpgaSecondCommand.size(), kDefaultParameter) != 0)
            return failed("Cmd: #0#2#0+#81+#0", "the FPGA start command failed");

        const std::string blocks = std::to_string(configuration.blocks());
        ImageFile::Reader text(configuration.text);
        for (std::size_t b = 0; b < configuration.blocks(); ++b) {
            // Between blocks the microcontroller's firmware is whole; only the configuration
            // store is part written, and a new run writes it again.
            if (b > 0 && StopHere("after block " + std::to_string(b) + " of " + blocks + " of " + instrument +
                                  "'s FPGA configuration"))
                return false;
            Step();
            at = " at block " + std::to_string(b + 1) + " of " + blocks;
            const auto bytes = configuration.block(text, b);
            const std::uint8_t* block = bytes.data();
            const auto address = static_cast<std::uint32_t>(b * kFpgaBlockSize);
            const auto write = FpgaWriteBlockCommand(address, block);
            replyLimit = kReplyBufferSize;
            if (exchange(write.data(), static_cast<std::uint32_t>(write.size()), kDefaultParameter) != 0)
                return failed("WRITE_FPGA ", "FPGA_WRITE failed");
            // The read-back asks for as many bytes as the write's reply delivered.
            const auto read = FpgaReadBlockCommand(address);
            if (exchange(read.data(), static_cast<std::uint32_t>(read.size()), kDefaultParameter) != 0)
                return failed("READ_FPGA ", "FPGA_READ failed");
            if (!FpgaReadBackMatches(reply, replyLimit, block)) {
                AppendTrail("FPGA_VERIFICATION");
                NoteReason(ReasonKind::Instrument, instrument + ": the FPGA configuration read back different" + at);
                return false;
            }
        }

        result = true;
        Step();
        const auto reset = FpgaResetPacket();
        resetResult_ = WriteOnly(ctx_, handle, reset.data(), static_cast<std::uint32_t>(reset.size()));
        ctx_.clock.sleep(kAfterResetMs);
        CloseChannel(ctx_, handle);
        Handles.clear();
    } catch (const std::exception& e) {
        // The result stays what it was when the exception came.
        if (!result) NoteReason(ReasonKind::Instrument, instrument + ": the FPGA stage ended with an error: " + e.what());
    } catch (...) {
    }
    return result;
}

}  // namespace rovenza
