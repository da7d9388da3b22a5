#include "TERVADevice.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "package/BootloadIni.h"
#include "package/WorkFolder.h"

namespace rovenza {

namespace {

constexpr std::uint32_t kBeforeEraseMs = 1000;
constexpr std::uint32_t kStatusPollMs = 100;
constexpr int kStatusPolls = 200;
constexpr std::uint32_t kAfterEraseMs = 10000;
constexpr std::uint32_t kBeforeWriteMs = 1000;
constexpr std::uint32_t kBeforeVerifyMs = 1000;

}  // namespace

std::optional<std::string> TTERVADevice2::OpenRawImage(const std::filesystem::path& path, std::size_t limit,
                                                       ImageFile& image) {
    return image.open(path, limit);
}

std::optional<std::string> TTERVADevice2::OpenImage(const std::filesystem::path& path, std::size_t limit,
                                                    ImageFile& image) const {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        // A package of another family holds other images: say so where the manifest tells.
        const std::int32_t type = TIniFile(WorkFile(kManifestFileName)).ReadInteger(kManifestInfoSection,
                                                                                   kManifestDeviceTypeKey, -1);
        for (const auto& family : kFamilies)
            if (family.deviceType == type && type != DeviceTypeCode)
                return path.filename().string() + ": missing from the package, which is for " +
                       std::string(family.listText);
    }
    return OpenRawImage(path, limit, image);
}

TTERVADevice2::TTERVADevice2(const Context& ctx) : TUSBDevice2(ctx) { DeviceTypeCode = kDeviceType; }

TTERVADevice2::~TTERVADevice2() { TUSBDevice2::Close(""); }

bool TTERVADevice2::PrepareImages(const std::filesystem::path& usbPath, const std::filesystem::path& fpgaPath) {
    ImageBytes = 0;
    usbImage_.clear();
    fpgaImage_ = {};
    ImageFile usb, fpga;
    std::optional<std::string> refusal;
    if (WriteUSBImage) refusal = OpenImage(usbPath, kEepromImageLimit, usb);
    if (!refusal && WriteFPGAImage) refusal = OpenImage(fpgaPath, kFlashImageLimit, fpga);
    std::vector<std::uint8_t> usbBytes(static_cast<std::size_t>(usb.size()));
    try {
        if (!refusal && !usb.empty()) ImageFile::Reader(usb).read(0, usbBytes.size(), usbBytes.data());
    } catch (const EImageChanged& e) {
        refusal = e.what();
    }
    if (refusal) {
        NoteReason(ReasonKind::Package, *refusal);
        return false;
    }
    usbImage_ = std::move(usbBytes);
    fpgaImage_ = std::move(fpga);
    ImageBytes = static_cast<std::int32_t>(usbImage_.size() + fpgaImage_.size());
    return true;
}

bool TTERVADevice2::ReadFPGABitSwap() const {
    return TIniFile(WorkFile(kManifestFileName)).ReadBool(kManifestSettingsSection, kManifestFPGABitSwapKey, false);
}

bool TTERVADevice2::ReadFPGAPowerON() const {
    return TIniFile(WorkFile(kManifestFileName)).ReadBool(kManifestSettingsSection, kManifestFPGAPowerONKey, false);
}

bool TTERVADevice2::WriteUSBEEPROM(Handle handle) {
    if (!WriteUSBImage) return true;
    try {
        std::vector<std::uint8_t> image = usbImage_;
        if (image.size() > kSerialBlockAddress) {
            // The image reaches the identity record: the instrument keeps its own.
            SerialBlock record{};
            if (const auto code = ReadSerialBlock(ctx_, handle, record)) {
                AppendTrail("EEPROM Read");
                NoteReason(ReasonKind::Instrument,
                           instrument_ + ": its identity record could not be read (error " + std::to_string(code) + ")");
                return false;
            }
            KeepIdentityRecord(image, record.data());
        }
        for (std::size_t address = 0; address < image.size(); address += kEepromBlock) {
            const std::size_t n = std::min(kEepromBlock, image.size() - address);
            const Bytes block(image.begin() + static_cast<std::ptrdiff_t>(address),
                              image.begin() + static_cast<std::ptrdiff_t>(address + n));
            if (const auto code = MEM_WRITE(ctx_, handle, static_cast<std::uint16_t>(address), block)) {
                AppendTrail("EEPROM Write");
                NoteReason(ReasonKind::Instrument, instrument_ + ": MEM_WRITE failed at EEPROM address " +
                                                       std::to_string(address) + " (error " + std::to_string(code) + ")");
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        for (std::size_t address = 0; address < image.size(); address += kEepromBlock) {
            const std::size_t n = std::min(kEepromBlock, image.size() - address);
            Bytes readBack;
            if (const auto code = MEM_READ(ctx_, handle, static_cast<std::uint16_t>(address), n, readBack)) {
                AppendTrail("EEPROM Read");
                NoteReason(ReasonKind::Instrument, instrument_ + ": MEM_READ failed at EEPROM address " +
                                                       std::to_string(address) + " (error " + std::to_string(code) + ")");
                return false;
            }
            if (!std::equal(readBack.begin(), readBack.end(), image.begin() + static_cast<std::ptrdiff_t>(address),
                            image.begin() + static_cast<std::ptrdiff_t>(address + n))) {
                AppendTrail("EEPROM verification failed");
                NoteReason(ReasonKind::Instrument, instrument_ + ": the EEPROM read back different at address " +
                                                       std::to_string(address));
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        return true;
    } catch (const std::exception& e) {
        AppendTrail("Exception");
        NoteReason(ReasonKind::Instrument, instrument_ + ": the EEPROM stage ended with an error: " + e.what());
        return false;
    } catch (...) {
        AppendTrail("Exception");
        return false;
    }
}

bool TTERVADevice2::WriteFPGAFlash(Handle handle) {
    if (!WriteFPGAImage) return true;
    try {
        const bool swap = ReadFPGABitSwap();
        // Nothing of the flash has been touched yet.
        if (StopHere("before " + instrument_ + "'s configuration flash was erased")) return false;
        ctx_.clock.sleep(kBeforeEraseMs);
        FLASH_ERASE(ctx_, handle);
        // Wait first, then ask; a status that stays busy ends the wait after the last poll.
        const std::string erasing = "while " + instrument_ + "'s configuration flash was erased; the flash is left empty";
        for (int polls = 0; polls < kStatusPolls; ++polls) {
            if (StopHere(erasing)) return false;
            ctx_.clock.sleep(kStatusPollMs);
            Gen2Status status;
            if (const auto code = GET_STATUS(ctx_, handle, status)) {
                AppendTrail("ERASE problem");
                NoteReason(ReasonKind::Instrument, instrument_ + ": GET_STATUS failed while the configuration flash was erased (error " +
                                                       std::to_string(code) + ")");
                return false;
            }
            if (status.Busy == 0) break;
        }
        ctx_.clock.sleep(kAfterEraseMs);
        if (StopHere(erasing)) return false;
        ctx_.clock.sleep(kBeforeWriteMs);
        // The block as the flash holds it: the image's bytes, bit-reversed when asked (one
        // buffer for every block).
        ImageFile::Reader image(fpgaImage_);
        Bytes block;
        const auto blockAt = [&](std::size_t address, std::size_t n) -> const Bytes& {
            block.resize(n);
            image.read(address, n, block.data());
            if (swap) SwapBits(block.data(), block.size());
            return block;
        };
        // The USB controller keeps its EEPROM image whatever the flash holds, so the instrument
        // stays reachable and a new run writes the flash again.
        const auto stopAt = [&](std::size_t address, std::string_view pass) {
            return address > 0 && StopHere([&] {
                       return "at byte " + std::to_string(address) + " of " + std::to_string(fpgaImage_.size()) +
                              " of " + instrument_ + "'s configuration flash (" + std::string(pass) + ")";
                   });
        };
        const auto failedAt = [&](std::string_view request, std::size_t address, std::uint32_t code) {
            NoteReason(ReasonKind::Instrument, instrument_ + ": " + std::string(request) + " failed at flash address " +
                                                   std::to_string(address) + " (error " + std::to_string(code) + ")");
        };
        const auto imageSize = static_cast<std::size_t>(fpgaImage_.size());
        for (std::size_t address = 0; address < imageSize; address += kFlashBlock) {
            if (stopAt(address, "writing")) return false;
            const std::size_t n = std::min(kFlashBlock, imageSize - address);
            if (const auto code = FLASH_WRITE(ctx_, handle, static_cast<std::uint32_t>(address), blockAt(address, n))) {
                AppendTrail("FLASH Write");
                failedAt("FLASH_WRITE", address, code);
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        ctx_.clock.sleep(kBeforeVerifyMs);
        Bytes readBack;
        for (std::size_t address = 0; address < imageSize; address += kFlashBlock) {
            if (stopAt(address, "verifying")) return false;
            const std::size_t n = std::min(kFlashBlock, imageSize - address);
            if (const auto code = FLASH_READ(ctx_, handle, static_cast<std::uint32_t>(address),
                                             static_cast<std::uint8_t>(n), readBack)) {
                AppendTrail("FLASH Read");
                failedAt("FLASH_READ", address, code);
                return false;
            }
            if (readBack != blockAt(address, n)) {
                AppendTrail("FLASH verification failed");
                NoteReason(ReasonKind::Instrument, instrument_ + ": the configuration flash read back different at address " +
                                                       std::to_string(address));
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        return true;
    } catch (const std::exception& e) {
        AppendTrail("Exception");
        NoteReason(ReasonKind::Instrument, instrument_ + ": the flash stage ended with an error: " + e.what());
        return false;
    } catch (...) {
        AppendTrail("Exception");
        return false;
    }
}

bool TTERVADevice2::ReopenInstrument(std::size_t index) {
    return ReopenAttempts(instrument_, [&]() -> std::optional<bool> {
        if (Open(DeviceNames[index])) return true;
        return std::nullopt;
    });
}

bool TTERVADevice2::UpgradeOne(std::size_t index, std::string& message, bool& failed) {
    const std::size_t count = Handles.size();
    const std::string prefix =
        count < 2 ? std::string() : "Device " + std::to_string(index + 1) + "/" + std::to_string(count) + " - ";
    DoneCount = 0;
    instrument_ = InstrumentLabel(DeviceNames[index]);
    if (const auto code = FPGA_POWER(ctx_, Handles[index], false)) {
        message = kMsgPowerOffFailed;
        NoteReason(ReasonKind::Instrument,
                   instrument_ + ": FPGA_POWER failed when it switched its FPGA off (error " + std::to_string(code) + ")");
        return false;
    }
    if (ReadManifestDeviceType() != DeviceTypeCode) {
        std::string ignored;
        ManifestFits(ignored, kMsgNotTerva);  // keeps the reason
        message = kMsgNotTerva;
        failed = true;
        return true;
    }
    if (GetDeviceName() != "TERVA") {
        message = kMsgNotTerva;
        NoteReason(ReasonKind::Instrument, instrument_ + " does not answer to the name TERVA");
        failed = true;
        return true;
    }
    SetStageText(prefix + "USB Pic uploading");
    if (!WriteUSBEEPROM(Handles[index])) {
        failed = true;
        return true;
    }
    // It restarts with its new USB image once its handle is closed.
    Close(DeviceNames[index]);
    if (!ReopenInstrument(index)) {
        failed = true;
        return true;
    }
    SetStageText(prefix + "FPGA uploading");
    if (!WriteFPGAFlash(Handles[index])) {
        failed = true;
        return true;
    }
    if (ReadFPGAPowerON()) FPGA_POWER(ctx_, Handles[index], true);
    DoneCount = GetTotalCount();
    return true;
}

void TTERVADevice2::Upgrade(std::string& message) {
    RunUpgrade(message, {kMsgError, TrailRule::WhenNotEmpty}, [this](std::string& message) {
        if (!PrepareImages(WorkFile(kUsbBinName), WorkFile(kFpgaBinName))) {
            message = kMsgCorruptedFile;
            return false;
        }
        // One message for the run: success only while no instrument has failed, and a failure
        // takes back the success an earlier instrument left.
        bool anyFailed = false;
        for (std::size_t i = 0; i < Handles.size(); ++i) {
            // Between instruments: the last one is done with, the next not yet touched.
            if (i > 0 && StopHere("before " + InstrumentLabel(DeviceNames[i]) + ", the next instrument")) {
                message = kMsgError;
                return true;
            }
            bool failed = false;
            if (!UpgradeOne(i, message, failed)) return false;
            anyFailed = anyFailed || failed;
            if (failed && message == kMsgSuccess) message = kMsgError;
            if (!failed && !anyFailed) message = kMsgSuccess;
        }
        return true;
    });
}

}  // namespace rovenza
