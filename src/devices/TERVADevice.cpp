#include "TERVADevice.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <utility>

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

std::string TTERVADevice2::DevicePrefix(std::size_t index, std::size_t count) {
    return count < 2 ? std::string() : "Device " + std::to_string(index + 1) + "/" + std::to_string(count) + " - ";
}

InstrumentEnding TTERVADevice2::UpgradeOne(std::size_t index, const std::string& prefix) {
    const std::size_t trailBefore = ErrorTrail.size();
    InstrumentEnding ending = UpgradeSteps(index, prefix);
    ending.trail = ErrorTrail.substr(trailBefore);
    ErrorTrail.resize(trailBefore);
    return ending;
}

InstrumentEnding TTERVADevice2::UpgradeSteps(std::size_t index, const std::string& prefix) {
    InstrumentEnding ending;
    const auto failed = [&ending]() -> InstrumentEnding& {
        ending.failed = true;
        return ending;
    };
    DoneCount = 0;
    instrument_ = InstrumentLabel(DeviceNames[index]);
    if (const auto code = FPGA_POWER(ctx_, Handles[index], false)) {
        ending.message = std::string(kMsgPowerOffFailed);
        ending.endsRun = true;
        NoteReason(ReasonKind::Instrument,
                   instrument_ + ": FPGA_POWER failed when it switched its FPGA off (error " + std::to_string(code) + ")");
        return failed();
    }
    if (ReadManifestDeviceType() != DeviceTypeCode) {
        std::string ignored;
        ManifestFits(ignored, kMsgNotTerva);  // keeps the reason
        ending.message = std::string(kMsgNotTerva);
        return failed();
    }
    if (GetDeviceName() != "TERVA") {
        ending.message = std::string(kMsgNotTerva);
        NoteReason(ReasonKind::Instrument, instrument_ + " does not answer to the name TERVA");
        return failed();
    }
    SetStageText(prefix + "USB Pic uploading");
    if (!WriteUSBEEPROM(Handles[index])) return failed();
    // It restarts with its new USB image once its handle is closed.
    Close(DeviceNames[index]);
    if (!ReopenInstrument(index)) return failed();
    SetStageText(prefix + "FPGA uploading");
    if (!WriteFPGAFlash(Handles[index])) return failed();
    if (ReadFPGAPowerON()) FPGA_POWER(ctx_, Handles[index], true);
    DoneCount = GetTotalCount();
    return ending;
}

bool TTERVADevice2::FoldInstrument(const InstrumentEnding& ending, std::string& message, bool& anyFailed) {
    ErrorTrail += ending.trail;
    if (ending.exception) std::rethrow_exception(ending.exception);
    if (ending.message) message = *ending.message;
    if (ending.endsRun) return false;
    anyFailed = anyFailed || ending.failed;
    if (ending.failed && message == kMsgSuccess) message = kMsgError;
    if (!ending.failed && !anyFailed) message = kMsgSuccess;
    return true;
}

bool TTERVADevice2::UpgradeInOrder(std::string& message) {
    bool anyFailed = false;
    for (std::size_t i = 0; i < Handles.size(); ++i) {
        // Between instruments: the last one is done with, the next not yet touched.
        if (i > 0 && StopHere("before " + InstrumentLabel(DeviceNames[i]) + ", the next instrument")) {
            message = kMsgError;
            return true;
        }
        if (!FoldInstrument(UpgradeOne(i, DevicePrefix(i, Handles.size())), message, anyFailed)) return false;
    }
    return true;
}

void TTERVADevice2::ShareImages(TTERVADevice2& other) const {
    other.usbImage_ = usbImage_;
    other.fpgaImage_ = fpgaImage_;
    other.ImageBytes = ImageBytes.load();
}

std::shared_ptr<TTERVADevice2> TTERVADevice2::InstrumentUpgrader(std::size_t index) {
    auto upgrader = std::make_shared<TTERVADevice2>(ctx_);
    upgrader->PackageFileName = PackageFileName;
    upgrader->WriteUSBImage = WriteUSBImage;
    upgrader->WriteFPGAImage = WriteFPGAImage;
    ShareImages(*upgrader);
    upgrader->prefix_ = DevicePrefix(index, Handles.size());
    upgrader->DeviceNames = {DeviceNames[index]};
    upgrader->Handles = {std::exchange(Handles[index], kInvalidHandle)};
    return upgrader;
}

void TTERVADevice2::UpgradeInstrument() {
    try {
        ending_ = UpgradeOne(0, prefix_);
    } catch (...) {
        ending_ = InstrumentEnding{};
        ending_.failed = true;
        ending_.trail = ErrorTrail;
        ending_.exception = std::current_exception();
    }
    Close("");
}

bool TTERVADevice2::UpgradeAtOnce(std::string& message) {
    std::vector<std::shared_ptr<TTERVADevice2>> upgraders;
    for (std::size_t i = 0; i < Handles.size(); ++i) upgraders.push_back(InstrumentUpgrader(i));
    runner_(upgraders);
    bool anyFailed = false;
    for (const auto& upgrader : upgraders) {
        TakeReasonOf(*upgrader);
        if (!FoldInstrument(upgrader->Ending(), message, anyFailed)) return false;
    }
    // As a stop between two instruments leaves it.
    if (Stopped()) message = kMsgError;
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
        return runner_ ? UpgradeAtOnce(message) : UpgradeInOrder(message);
    });
}

}  // namespace rovenza
