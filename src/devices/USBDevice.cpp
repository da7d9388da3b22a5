#include "USBDevice.h"

#include <system_error>

#include "package/BootloadIni.h"
#include "package/WorkFolder.h"
#include "package/ZipMstr.h"
#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

OSError::OSError(std::uint32_t code)
    : std::runtime_error("System Error.  Code: " + std::to_string(code) + "."), code_(code) {}

TUSBDevice::TUSBDevice(const Context& ctx) : ctx_(ctx) {}

TUSBDevice::~TUSBDevice() {
    // A family that replaces Close closes in its own destructor; by now only the base's runs.
    TUSBDevice::Close("");
}

bool TUSBDevice::Open(const std::string&) {
    bool result = false;
    if (Handles.empty()) {
        try {
            std::vector<std::string> paths;
            FindDevicePaths(ctx_, paths);
            const std::string path = paths.empty() ? std::string(kFixedDevicePath) : paths.front();
            Handle handle = kInvalidHandle;
            OpenChannel(ctx_, path, handle);
            if (handle != kInvalidHandle) {
                Handles = {handle};
                result = true;
            }
        } catch (...) {
            result = false;
        }
    }
    if (!result) AppendTrail("could not connected");
    return result;
}

bool TUSBDevice::OpenFirstGeneration(std::initializer_list<std::string_view> pids) {
    if (!Handles.empty()) return false;
    try {
        std::vector<std::string> paths;
        for (std::string_view pid : pids) {
            FindDevicePathsByPid(ctx_, pid, paths);
            if (!paths.empty()) break;
        }
        if (!paths.empty()) return OpenPath(paths.front(), paths.front());
        // The fixed path reaches whichever first-generation instrument comes first on the bus,
        // so it stands only for "the one there is": nothing listed (a driver that lists no
        // interface), or a single instrument, in its boot loader. Anything else listed belongs
        // to another family and is never opened for this one.
        const FirstGenerationListing listing = ListFirstGeneration(ctx_);
        const bool onlyBootLoader = listing.size() == 1 && listing.withPid(kPidBootLoader).size() == 1;
        // A walk restricted to a chosen instrument opens its boot loader by its own path.
        if (!ctx_.firstGenerationSerials.empty())
            return onlyBootLoader && OpenPath(listing.paths.front(), listing.paths.front());
        if (listing.size() != 0 && !onlyBootLoader) return false;
        return OpenPath(std::string(kFixedDevicePath), onlyBootLoader ? listing.paths.front() : "");
    } catch (...) {
        return false;
    }
}

bool TUSBDevice::OpenPath(const std::string& path, const std::string& listedAs) {
    if (!Handles.empty()) return false;
    try {
        Handle handle = kInvalidHandle;
        OpenChannel(ctx_, path, handle);
        if (handle == kInvalidHandle) return false;
        Handles = {handle};
        openedPath_ = listedAs;
        return true;
    } catch (...) {
        return false;
    }
}

TUSBDevice::Reopen TUSBDevice::OpenNewPath(const std::vector<std::string>& before,
                                           std::initializer_list<std::string_view> pids) {
    try {
        const FirstGenerationListing listing = ListFirstGeneration(ctx_);
        for (std::string_view pid : pids) {
            std::vector<std::string> fresh;
            for (const auto& path : listing.withPid(pid))
                if (!ContainsPath(before, path)) fresh.push_back(path);
            if (fresh.size() > 1) {
                ctx_.debug.write("Several instruments appeared under " + std::string(pid) +
                                 " after the restart; none of them is opened");
                return Reopen::Ambiguous;
            }
            if (fresh.size() == 1) return OpenPath(fresh.front(), fresh.front()) ? Reopen::Opened : Reopen::NotYet;
        }
        if (listing.size() == 0 && ctx_.firstGenerationSerials.empty() && OpenPath(std::string(kFixedDevicePath), ""))
            return Reopen::Opened;
    } catch (...) {
    }
    return Reopen::NotYet;
}

bool TUSBDevice::Close(const std::string&) {
    bool result = false;
    try {
        for (Handle handle : Handles) {
            CloseChannel(ctx_, handle);
            result = true;
        }
    } catch (...) {
        result = false;
    }
    Handles.clear();
    return result;
}

bool TUSBDevice::ExtractPackage(const std::string& fileName) {
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::is_regular_file(fileName, ec)) return false;
    try {
        TZipMaster zip(&ctx_.op);
        zip.SetZipFilename(fileName);
        zip.ExtrBaseDir = WorkFolderPath(ctx_.programFolder);
        zip.ExtrOptions = {ExtrOption::ExtrOverWrite};
        zip.Extract();
        return true;
    } catch (const std::exception& e) {
        ctx_.debug.write(std::string("Package ") + fileName + ": " + e.what());
        return false;
    } catch (...) {
        return false;
    }
}

std::string TUSBDevice::GetStageText() {
    std::lock_guard lock(stageMutex_);
    return StageText;
}

void TUSBDevice::SetStageText(std::string text) {
    std::lock_guard lock(stageMutex_);
    StageText = std::move(text);
}

std::int32_t TUSBDevice::ReadManifestDeviceType() {
    TIniFile manifest(WorkFile(kManifestFileName));
    return manifest.ReadInteger(kManifestInfoSection, kManifestDeviceTypeKey, -1);
}

std::string TUSBDevice::QueryDevice(const std::string& command) {
    std::string reply(64, '\0');
    std::uint32_t replyLimit = 64;
    const Handle handle = FirstHandle();
    const std::uint32_t result =
        CommandExchange(ctx_, handle, reinterpret_cast<const std::uint8_t*>(command.data()),
                        static_cast<std::uint32_t>(command.size()), kDefaultParameter, kDefaultParameter,
                        reinterpret_cast<std::uint8_t*>(reply.data()), replyLimit);
    if (result != 0) throw OSError(result);
    return reply;
}

void TUSBDevice::AppendTrail(std::string_view step) {
    ErrorTrail += kTrailSeparator;
    ErrorTrail += step;
}

std::filesystem::path TUSBDevice::WorkFile(std::string_view name) const {
    return WorkFolderPath(ctx_.programFolder) / std::string(name);
}

void TUSBDevice::RunUpgrade(std::string& message, const UpgradeRules& rules,
                            const std::function<bool(std::string&)>& stages) {
    message = kMsgError;
    bool trail = true;
    try {
        if (!ExtractPackage(PackageFileName)) {
            message = kMsgNoPackage;
            return;
        }
        if (!Open("")) {
            message = kMsgNotConnected;
            return;
        }
        // Closes on every way out of the stages, an exception included.
        struct CloseGuard {
            TUSBDevice& device;
            ~CloseGuard() { device.Close(""); }
        } guard{*this};
        trail = stages(message);
    } catch (...) {
        message = rules.exceptionMessage;
        Close("");
    }
    if (!trail || message != kMsgError) return;
    if (rules.trail == TrailRule::Always || (rules.trail == TrailRule::WhenNotEmpty && !ErrorTrail.empty()))
        message += ": " + ErrorTrail;
}

bool TUSBDevice::ManifestFits(std::string& message, std::string_view wrongKindMessage) {
    if (ReadManifestDeviceType() == DeviceTypeCode) return true;
    message = wrongKindMessage;
    return false;
}

bool TUSBDevice::ReopenAfterRestart() {
    return ReopenAttempts([this]() -> std::optional<bool> {
        switch (OpenNewPath(pathsBeforeRestart_, {firmwarePid_, kPidBootLoader})) {
            case Reopen::Opened: return true;
            case Reopen::Ambiguous: return false;
            case Reopen::NotYet: break;
        }
        return std::nullopt;
    });
}

bool TUSBDevice::ReopenAttempts(const std::function<std::optional<bool>()>& attempt) {
    constexpr std::uint32_t kReopenWaitMs = 4000;
    constexpr int kAttempts = 11;
    for (int n = 0; n < kAttempts; ++n) {
        ctx_.clock.sleep(kReopenWaitMs);
        if (const std::optional<bool> done = attempt()) return *done;
    }
    return false;
}

bool TUSBDevice::AwaitFirmware(const std::function<bool(const FirstGenerationListing&)>& back) {
    constexpr std::uint32_t kWatchMs = 30000;
    constexpr std::uint32_t kPollMs = 500;
    for (std::uint32_t waited = 0;; waited += kPollMs) {
        if (back(ListFirstGeneration(ctx_))) return true;
        if (waited >= kWatchMs) break;
        ctx_.clock.sleep(kPollMs);
    }
    ctx_.debug.write("The instrument did not show its new firmware within 30 s of its restart");
    AppendTrail("Not running the new firmware");
    return false;
}

HexImage TUSBDevice::ReadWorkImage(std::string_view fileName, const HexImageLayout& layout) {
    try {
        return ReadHexImage(WorkFile(fileName), layout, ctx_.debug);
    } catch (const EInOutError& e) {
        ctx_.debug.write(e.what());
        throw;
    }
}


}  // namespace rovenza
