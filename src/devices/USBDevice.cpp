#include "USBDevice.h"

#include <algorithm>
#include <fstream>
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
    const std::string name = PackageLabel();
    std::error_code ec;
    if (fileName.empty()) {
        NoteReason(ReasonKind::Package, "no package file given");
        return false;
    }
    if (!std::filesystem::is_regular_file(fileName, ec)) {
        const auto status = std::filesystem::status(fileName, ec);
        NoteReason(ReasonKind::Package, name + (std::filesystem::is_directory(status) ? ": is a folder"
                                                : std::filesystem::exists(status)    ? ": not a regular file"
                                                                                      : ": no such file"));
        return false;
    }
    try {
        TZipMaster zip(&ctx_.op);
        zip.SetZipFilename(fileName);
        zip.ExtrBaseDir = ctx_.folders.work;
        zip.ExtrOptions = {ExtrOption::ExtrOverWrite};
        zip.Extract();
        return true;
    } catch (const std::exception& e) {
        ctx_.debug.write(std::string("Package ") + fileName + ": " + e.what());
        if (dynamic_cast<const EWorkFolderError*>(&e)) {
            NoteReason(ReasonKind::Package, e.what());
        } else if (dynamic_cast<const EZipStreamError*>(&e)) {
            // The walk scans for local headers; a file that does not start with one was never an
            // archive, one that does is a damaged archive.
            char start[4] = {};
            std::ifstream(fileName, std::ios::binary).read(start, sizeof start);
            const bool zip = start[0] == 'P' && start[1] == 'K' && start[2] == 3 && start[3] == 4;
            NoteReason(ReasonKind::Package, name + (zip ? std::string(": damaged zip archive (") + e.what() + ")"
                                                        : std::string(": not a zip archive")));
        } else {
            NoteReason(ReasonKind::Package, name + ": " + e.what());
        }
        return false;
    } catch (...) {
        NoteReason(ReasonKind::Package, name + ": cannot be unpacked");
        return false;
    }
}

std::string TUSBDevice::GetStageText() {
    std::lock_guard lock(stageMutex_);
    return StageText;
}

void TUSBDevice::SetStageText(std::string text) {
    std::lock_guard lock(stageMutex_);
    if (stages_.empty() || stages_.back() != text) stages_.push_back(text);
    StageText = std::move(text);
}

std::vector<std::string> TUSBDevice::StagesFrom(std::size_t from) const {
    std::lock_guard lock(stageMutex_);
    if (from >= stages_.size()) return {};
    return {stages_.begin() + static_cast<std::ptrdiff_t>(from), stages_.end()};
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

std::vector<RunInstrument> TUSBDevice::Instruments() const {
    std::lock_guard lock(stageMutex_);
    return instruments_;
}

void TUSBDevice::RecordInstruments() {
    std::vector<std::string> paths = DeviceNames;
    if (paths.empty()) paths.push_back(openedPath_.empty() ? std::string(kFixedDevicePath) : openedPath_);
    std::lock_guard lock(stageMutex_);
    for (const auto& path : paths) {
        RunInstrument instrument{path, DevicePathSerial(path)};
        const bool known = std::any_of(instruments_.begin(), instruments_.end(), [&](const RunInstrument& i) {
            return instrument.serial.empty() ? i.path == instrument.path : i.serial == instrument.serial;
        });
        if (!known) instruments_.push_back(std::move(instrument));
    }
}

void TUSBDevice::NoteReason(ReasonKind kind, std::string text) {
    if (!reason_) reason_ = UpgradeReason{kind, std::move(text)};
}

void TUSBDevice::TakeReasonOf(const TUSBDevice& part) {
    if (part.stopped_) {
        if (!stopped_) reason_ = part.reason_;
        stopped_ = true;
    } else if (part.reason_) {
        NoteReason(part.reason_->kind, part.reason_->text);
    }
}

void TUSBDevice::NoteImageRefusal(std::string_view fileName, const std::exception& refusal) {
    const std::string name(fileName);
    if (const auto* hex = dynamic_cast<const EHexFormatError*>(&refusal); hex && !hex->reason().empty()) {
        NoteReason(ReasonKind::Package,
                   name + (hex->line() > 0 ? " line " + std::to_string(hex->line()) : std::string()) + ": " + hex->reason());
        return;
    }
    if (dynamic_cast<const EHexFormatError*>(&refusal)) {
        NoteReason(ReasonKind::Package, name + ": refused (" + refusal.what() + ")");
        return;
    }
    std::error_code ec;
    const bool present = std::filesystem::exists(WorkFile(fileName), ec);
    NoteReason(ReasonKind::Package, name + (present ? ": cannot be read" : ": missing from the package"));
}

bool TUSBDevice::StopHere(const std::string& where) {
    if (!StopAsked()) return false;
    if (!stopped_) reason_ = UpgradeReason{ReasonKind::Stopped, "stopped " + where};
    stopped_ = true;
    return true;
}

std::string TUSBDevice::InstrumentLabel(const std::string& path) {
    const std::string serial = DevicePathSerial(path);
    return serial.empty() ? std::string("the instrument") : "instrument " + serial;
}

std::string TUSBDevice::PackageLabel() const { return std::filesystem::path(PackageFileName).filename().string(); }

std::string_view TUSBDevice::FamilyName() const {
    for (const auto& family : kFamilies)
        if (family.deviceType == DeviceTypeCode) return family.listText;
    return "instrument";
}

std::filesystem::path TUSBDevice::WorkFile(std::string_view name) const {
    return ctx_.folders.work / std::string(name);
}

void TUSBDevice::RunUpgrade(std::string& message, const UpgradeRules& rules,
                            const std::function<bool(std::string&)>& stages) {
    message = kMsgError;
    reason_.reset();
    stopped_ = false;
    {
        std::lock_guard lock(stageMutex_);
        instruments_.clear();
    }
    bool trail = true;
    try {
        if (!ExtractPackage(PackageFileName)) {
            message = kMsgNoPackage;
            return;
        }
        if (StopHere("before any instrument was opened")) return;
        if (!Open("")) {
            NoteReason(ReasonKind::Instrument, "no " + std::string(FamilyName()) + " instrument found");
            message = kMsgNotConnected;
            return;
        }
        RecordInstruments();
        // Closes on every way out of the stages, an exception included.
        struct CloseGuard {
            TUSBDevice& device;
            ~CloseGuard() { device.Close(""); }
        } guard{*this};
        trail = stages(message);
    } catch (const std::exception& e) {
        message = rules.exceptionMessage;
        NoteReason(ReasonKind::Instrument, std::string("the run ended with an error: ") + e.what());
        Close("");
    } catch (...) {
        message = rules.exceptionMessage;
        NoteReason(ReasonKind::Instrument, "the run ended with an unknown error");
        Close("");
    }
    if (!trail || message != kMsgError) return;
    if (rules.trail == TrailRule::Always || (rules.trail == TrailRule::WhenNotEmpty && !ErrorTrail.empty()))
        message += ": " + ErrorTrail;
}

bool TUSBDevice::ManifestFits(std::string& message, std::string_view wrongKindMessage) {
    const std::int32_t found = ReadManifestDeviceType();
    if (found == DeviceTypeCode) return true;
    message = wrongKindMessage;
    std::string why;
    std::error_code ec;
    if (found == -1) {
        why = std::filesystem::exists(WorkFile(kManifestFileName), ec) ? "Bootload.ini names no device type"
                                                                       : "the package holds no Bootload.ini";
    } else {
        why = "a package of device type " + std::to_string(found);
        for (const auto& family : kFamilies)
            if (family.deviceType == found) why = "a package for " + std::string(family.listText);
    }
    NoteReason(ReasonKind::Package, PackageLabel() + ": " + why + ", not for " + std::string(FamilyName()) +
                                        " (device type " + std::to_string(DeviceTypeCode) + ")");
    return false;
}

bool TUSBDevice::ReopenAfterRestart() {
    const std::string instrument = CurrentInstrument();
    return ReopenAttempts(instrument, [&]() -> std::optional<bool> {
        switch (OpenNewPath(pathsBeforeRestart_, {firmwarePid_, kPidBootLoader})) {
            case Reopen::Opened: return true;
            case Reopen::Ambiguous:
                NoteReason(ReasonKind::Instrument,
                           "several instruments appeared after " + instrument + " restarted; none of them was opened");
                return false;
            case Reopen::NotYet: break;
        }
        return std::nullopt;
    });
}

bool TUSBDevice::ReopenAttempts(const std::string& instrument, const std::function<std::optional<bool>()>& attempt) {
    constexpr std::uint32_t kReopenWaitMs = 4000;
    constexpr int kAttempts = 11;
    for (int n = 0; n < kAttempts; ++n) {
        if (StopHere("while " + instrument + " was restarting")) return false;
        ctx_.clock.sleep(kReopenWaitMs);
        if (const std::optional<bool> done = attempt()) return *done;
    }
    NoteReason(ReasonKind::Instrument, instrument + " did not come back after its restart within " +
                                           std::to_string(kAttempts) + " tries");
    return false;
}

bool TUSBDevice::AwaitFirmware(const std::function<bool(const FirstGenerationListing&)>& back) {
    constexpr std::uint32_t kWatchMs = 30000;
    constexpr std::uint32_t kPollMs = 500;
    const std::string instrument = CurrentInstrument();
    for (std::uint32_t waited = 0;; waited += kPollMs) {
        if (back(ListFirstGeneration(ctx_))) return true;
        if (waited >= kWatchMs) break;
        if (StopHere("while waiting for " + instrument + " to show its new firmware")) return false;
        ctx_.clock.sleep(kPollMs);
    }
    ctx_.debug.write("The instrument did not show its new firmware within 30 s of its restart");
    NoteReason(ReasonKind::Instrument, instrument + " did not show its new firmware within 30 s of its restart");
    AppendTrail("Not running the new firmware");
    return false;
}

HexImage TUSBDevice::ReadWorkImage(std::string_view fileName, const HexImageLayout& layout) {
    return ReadWorkImage(fileName, [&](const std::filesystem::path& file) { return ReadHexImage(file, layout, ctx_.debug); });
}

HexImage TUSBDevice::ReadWorkImage(std::string_view fileName,
                                   const std::function<HexImage(const std::filesystem::path&)>& read) {
    try {
        return read(WorkFile(fileName));
    } catch (const EInOutError& e) {
        ctx_.debug.write(e.what());
        NoteImageRefusal(fileName, e);
        throw;
    } catch (const EHexFormatError& e) {
        NoteImageRefusal(fileName, e);
        throw;
    }
}


}  // namespace rovenza
