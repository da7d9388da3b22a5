#include "VKZenaraModulDevice.h"

#include <algorithm>

#include "catalog/InstrumentCatalog.h"
#include "protocols/Gen2Frames.h"
#include "usb/VELKUSB_AMPL.h"

namespace rovenza {

namespace {

constexpr std::uint8_t kTypeQuery = 0xA7;
constexpr std::uint8_t kEnterProgramming = 0x54;
constexpr std::uint8_t kImageBlock = 0x50;
constexpr std::uint8_t kLeaveProgramming = 0x53;
constexpr std::uint32_t kModeWaitMs = 50;
constexpr std::uint32_t kGroupWaitMs = 20;
constexpr std::uint32_t kFirstModuleAddress = 0x600;
constexpr std::size_t kBlockBytes = 8;
constexpr int kBlocksPerGroup = 8;

}  // namespace

TVKZenaraModulDevice::TVKZenaraModulDevice(const Context& ctx) : TUSBDevice2(ctx) { DeviceTypeCode = kDeviceType; }

TVKZenaraModulDevice::~TVKZenaraModulDevice() { TUSBDevice2::Close(""); }

bool TVKZenaraModulDevice::Open(const std::string&) {
    const bool result = TUSBDevice2::Open("");
    if (result) {
        for (Handle handle : Handles) {
            I2C_START_READ(ctx_, handle, kModuleBridgeAddress);
            EnableModuleSlots(ctx_, handle, kModuleSlots);
        }
    }
    return result;
}

void TVKZenaraModulDevice::Upgrade(std::string& message) {
    ErrorTrail.clear();
    RunUpgrade(message, {kMsgException, TrailRule::Never}, [this](std::string& message) {
        if (!ManifestFits(message, "Instrument or FWU file is not Zenara Module!")) return true;
        const std::size_t count = Handles.size();
        std::string failures;  // one line per instrument that did not upgrade every module
        for (std::size_t i = 0; i < count; ++i) {
            const std::string prefix =
                count < 2 ? std::string() : "Device " + std::to_string(i + 1) + "/" + std::to_string(count) + " - ";
            instrument_ = InstrumentLabel(DeviceNames[i]);
            std::string result;
            for (int slot = 0; slot < kModuleSlots; ++slot) {
                // Between modules: the last one has left its programming mode, the next has not
                // entered it.
                if ((i > 0 || slot > 0) &&
                    StopHere("before module " + std::to_string(slot + 1) + " of " + instrument_)) {
                    message = kMsgError;
                    return true;
                }
                SetStageText(prefix + "Uploading Module " + std::to_string(slot + 1));
                if (UpgradeModule(static_cast<std::uint8_t>(slot), Handles[i])) continue;
                result += (result.empty() ? "Module " : ", Module ") + std::to_string(slot + 1);
            }
            if (!result.empty()) failures += (failures.empty() ? "" : "\n") + prefix + result + " cannot be upgraded!";
        }
        // Successful only when every instrument upgraded every module.
        message = failures.empty() ? std::string(kMsgSuccess) : failures;
        return true;
    });
}

bool TVKZenaraModulDevice::ModuleFailed(std::uint8_t slot, const std::string& what) {
    NoteReason(ReasonKind::Instrument, "module " + std::to_string(slot + 1) + " of " + instrument_ + ": " + what);
    return false;
}

bool TVKZenaraModulDevice::UpgradeModule(std::uint8_t slot, Handle handle) {
    DoneCount = 0;
    int type = 0;
    Bytes answer;
    const auto error = [](std::uint32_t code) { return " (error " + std::to_string(code) + ")"; };
    if (const auto code = VELKUSB_AMPL_SendReadCmd(ctx_, handle, slot, kTypeQuery, answer, {}, 0))
        return ModuleFailed(slot, "no answer to the type query" + error(code));
    if (answer.size() == 1) type = answer[0];
    if (!FindModuleType(type)) {
        if (const std::optional<int> chosen = ctx_.op.chooseModuleType(slot)) type = *chosen;
    }
    const ModuleTypeEntry* entry = FindModuleType(type);
    if (!entry) return ModuleFailed(slot, "its type " + std::to_string(type) + " is none of the known ones and no type was chosen for it");

    // The image is loaded and checked before the module enters its programming mode, so a
    // missing or refused file never leaves a module waiting there; it raises and ends the run.
    ModuleImage.resize(entry->imageLength);
    totalCount_ = static_cast<std::int64_t>(ModuleImage.size()) - static_cast<std::int64_t>(kModuleImageStart);
    try {
        LoadModuleHex(WorkFile(entry->imageFile), ModuleImage, ctx_.debug);
    } catch (const std::exception& e) {
        NoteImageRefusal(entry->imageFile, e);
        throw;
    }

    if (const auto code = VELKUSB_AMPL_SendCmd(ctx_, handle, slot, kEnterProgramming, {}, kModeWaitMs, false))
        return ModuleFailed(slot, "it did not enter its programming mode" + error(code));

    // Whole groups of eight blocks, up to the group whose last block carried fewer than eight
    // image bytes: a full image is followed by one group of zeros.
    std::uint32_t address = kFirstModuleAddress;
    std::size_t position = 0;
    for (bool last = false; !last;) {
        std::uint8_t checksum = 0;
        for (int k = 1; k <= kBlocksPerGroup; ++k) {
            Bytes block(2 + kBlockBytes, 0x00);
            block[0] = static_cast<std::uint8_t>(address >> 8);
            block[1] = static_cast<std::uint8_t>(address);
            const std::size_t n = std::min(kBlockBytes, ModuleImage.size() - position);
            std::copy_n(ModuleImage.begin() + static_cast<std::ptrdiff_t>(position), n, block.begin() + 2);
            position += n;
            for (std::size_t b = 2; b < block.size(); ++b) checksum ^= block[b];
            std::string failure;  // empty: the block went through
            const std::string at = " at address " + std::to_string(address);
            if (k < kBlocksPerGroup) {
                if (const auto code = VELKUSB_AMPL_SendCmd(ctx_, handle, slot, kImageBlock, block, 0, true))
                    failure = "a block was not taken" + at + error(code);
            } else {
                Bytes reply;
                if (const auto code =
                        VELKUSB_AMPL_SendReadCmd(ctx_, handle, slot, kImageBlock, reply, block, kGroupWaitMs))
                    failure = "a group was not confirmed" + at + error(code);
                else if (reply.size() != 1 || reply[0] != checksum)
                    failure = "the group checksum does not match" + at;
                last = n < kBlockBytes;
            }
            address += kBlockBytes;
            DoneCount = static_cast<std::int64_t>(address) - static_cast<std::int64_t>(kModuleImageStart);
            if (!failure.empty()) return ModuleFailed(slot, failure);
        }
    }
    if (const auto code = VELKUSB_AMPL_SendCmd(ctx_, handle, slot, kLeaveProgramming, {}, kModeWaitMs, false))
        return ModuleFailed(slot, "it did not leave its programming mode" + error(code));
    return true;
}

}  // namespace rovenza
