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

bool TTERVADevice2::ReadRawImage(const std::filesystem::path& path, std::size_t limit, std::vector<std::uint8_t>& image) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > limit) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    image.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    // A file that changed size while it was read is not the file that was measured.
    return in.gcount() == static_cast<std::streamsize>(image.size()) && in.peek() == std::ifstream::traits_type::eof();
}

TTERVADevice2::TTERVADevice2(const Context& ctx) : TUSBDevice2(ctx) { DeviceTypeCode = kDeviceType; }

TTERVADevice2::~TTERVADevice2() { TUSBDevice2::Close(""); }

bool TTERVADevice2::PrepareImages(const std::filesystem::path& usbPath, const std::filesystem::path& fpgaPath) {
    ImageBytes = 0;
    usbImage_.clear();
    fpgaImage_.clear();
    std::vector<std::uint8_t> usb, fpga;
    if (WriteUSBImage && !ReadRawImage(usbPath, kEepromImageLimit, usb)) return false;
    if (WriteFPGAImage && !ReadRawImage(fpgaPath, kFlashImageLimit, fpga)) return false;
    usbImage_ = std::move(usb);
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
            if (ReadSerialBlock(ctx_, handle, record) != 0) {
                AppendTrail("EEPROM Read");
                return false;
            }
            KeepIdentityRecord(image, record.data());
        }
        for (std::size_t address = 0; address < image.size(); address += kEepromBlock) {
            const std::size_t n = std::min(kEepromBlock, image.size() - address);
            const Bytes block(image.begin() + static_cast<std::ptrdiff_t>(address),
                              image.begin() + static_cast<std::ptrdiff_t>(address + n));
            if (MEM_WRITE(ctx_, handle, static_cast<std::uint16_t>(address), block) != 0) {
                AppendTrail("EEPROM Write");
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        for (std::size_t address = 0; address < image.size(); address += kEepromBlock) {
            const std::size_t n = std::min(kEepromBlock, image.size() - address);
            Bytes readBack;
            if (MEM_READ(ctx_, handle, static_cast<std::uint16_t>(address), n, readBack) != 0) {
                AppendTrail("EEPROM Read");
                return false;
            }
            if (!std::equal(readBack.begin(), readBack.end(), image.begin() + static_cast<std::ptrdiff_t>(address),
                            image.begin() + static_cast<std::ptrdiff_t>(address + n))) {
                AppendTrail("EEPROM verification failed");
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        return true;
    } catch (...) {
        AppendTrail("Exception");
        return false;
    }
}

bool TTERVADevice2::WriteFPGAFlash(Handle handle) {
    if (!WriteFPGAImage) return true;
    try {
        const bool swap = ReadFPGABitSwap();
        ctx_.clock.sleep(kBeforeEraseMs);
        FLASH_ERASE(ctx_, handle);
        // Wait first, then ask; a status that stays busy ends the wait after the last poll.
        for (int polls = 0; polls < kStatusPolls; ++polls) {
            ctx_.clock.sleep(kStatusPollMs);
            Gen2Status status;
            if (GET_STATUS(ctx_, handle, status) != 0) {
                AppendTrail("ERASE problem");
                return false;
            }
            if (status.Busy == 0) break;
        }
        ctx_.clock.sleep(kAfterEraseMs);
        ctx_.clock.sleep(kBeforeWriteMs);
        // The block as the flash holds it: the image's bytes, bit-reversed when asked.
        const auto blockAt = [&](std::size_t address, std::size_t n) {
            Bytes block(fpgaImage_.begin() + static_cast<std::ptrdiff_t>(address),
                        fpgaImage_.begin() + static_cast<std::ptrdiff_t>(address + n));
            if (swap) SwapBits(block.data(), block.size());
            return block;
        };
        for (std::size_t address = 0; address < fpgaImage_.size(); address += kFlashBlock) {
            const std::size_t n = std::min(kFlashBlock, fpgaImage_.size() - address);
            if (FLASH_WRITE(ctx_, handle, static_cast<std::uint32_t>(address), blockAt(address, n)) != 0) {
                AppendTrail("FLASH Write");
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        ctx_.clock.sleep(kBeforeVerifyMs);
        for (std::size_t address = 0; address < fpgaImage_.size(); address += kFlashBlock) {
            const std::size_t n = std::min(kFlashBlock, fpgaImage_.size() - address);
            Bytes readBack;
            if (FLASH_READ(ctx_, handle, static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(n), readBack) !=
                0) {
                AppendTrail("FLASH Read");
                return false;
            }
            if (readBack != blockAt(address, n)) {
                AppendTrail("FLASH verification failed");
                return false;
            }
            DoneCount += static_cast<std::int64_t>(n);
        }
        return true;
    } catch (...) {
        AppendTrail("Exception");
        return false;
    }
}

bool TTERVADevice2::ReopenInstrument(std::size_t index) {
    return ReopenAttempts([&]() -> std::optional<bool> {
        if (Open(DeviceNames[index])) return true;
        return std::nullopt;
    });
}

bool TTERVADevice2::UpgradeOne(std::size_t index, std::string& message, bool& failed) {
    const std::size_t count = Handles.size();
    const std::string prefix =
        count < 2 ? std::string() : "Device " + std::to_string(index + 1) + "/" + std::to_string(count) + " - ";
    DoneCount = 0;
    if (FPGA_POWER(ctx_, Handles[index], false) != 0) {
        message = kMsgPowerOffFailed;
        return false;
    }
    if (ReadManifestDeviceType() != DeviceTypeCode || GetDeviceName() != "TERVA") {
        message = kMsgNotTerva;
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
