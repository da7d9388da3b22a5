#pragma once
// The abstract upgrader. The shell knows an instrument family only through this class: it
// sets PackageFileName, runs Upgrade once on the worker thread, and meanwhile reads
// GetTotalCount, GetDoneCount and GetStageText from the window's thread.
#include <atomic>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Context.h"
#include "protocols/IntelHex.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

// The operating-system error a failed exchange raises (QueryDevice).
class OSError : public std::runtime_error {
public:
    explicit OSError(std::uint32_t code);
    std::uint32_t code() const { return code_; }

private:
    std::uint32_t code_;
};

// Trail entries start with a line feed and a carriage return, in that order.
inline constexpr std::string_view kTrailSeparator = "\x0A\x0D";

inline constexpr std::string_view kMsgError = "Error";
inline constexpr std::string_view kMsgException = "Error - EXCEPTION";
inline constexpr std::string_view kMsgNoPackage = "The FWU file does not exist.";
inline constexpr std::string_view kMsgNotConnected = "Instrument is not connected.";
inline constexpr std::string_view kMsgSuccess = "Firmware upgrade successful!";

// Why a run ended as it did, in plain words that name the file or the instrument, for a front end
// to tell beside the final message (which stays the family's own). The kind says what the
// failure concerned where the message alone does not: a refused image ends some families' runs
// with a bare "Error".
enum class ReasonKind {
    Package,     // the package or an image in it, or the work folder it is unpacked into
    Instrument,  // no instrument, or the conversation with it
    Stopped,     // the front end asked the run to stop (Context::stop)
};
struct UpgradeReason {
    ReasonKind kind = ReasonKind::Instrument;
    std::string text;
};

// An instrument a run works on: the device path it was first opened by and the serial number
// that path carries (empty for the fixed path).
struct RunInstrument {
    std::string path;
    std::string serial;
};

// Asks the first-generation firmware for its name (the reply's characters from the fifth on).
inline constexpr std::string_view kNameQueryCommand{"\x00\x02\x00\x0D\x00", 5};

class TUSBDevice {
public:
    explicit TUSBDevice(const Context& ctx);
    virtual ~TUSBDevice();
    TUSBDevice(const TUSBDevice&) = delete;
    TUSBDevice& operator=(const TUSBDevice&) = delete;

    // Virtual operations, in the order of the interface.
    virtual bool Open(const std::string& id);
    virtual bool Close(const std::string& id);
    virtual std::string GetInfoText() = 0;
    virtual std::string GetDeviceName() = 0;
    virtual bool ExtractPackage(const std::string& fileName);
    virtual std::int64_t GetTotalCount() = 0;
    virtual std::string GetStageText();
    virtual void Upgrade(std::string& message) = 0;

    std::int64_t GetDoneCount() const { return DoneCount.load(std::memory_order_relaxed); }
    // The instruments the run has opened so far, in the order they were opened. Safe from any
    // thread while Upgrade runs.
    std::vector<RunInstrument> Instruments() const;
    // The stage texts set so far, in order, from the `from`-th on (counted from 0), so that a
    // front end that looks now and then misses no stage of a quick run. Safe from any thread.
    std::vector<std::string> StagesFrom(std::size_t from) const;
    // Why the run ended as it did: the first reason it met (what follows the first failure is
    // its consequence), or where it stopped when the front end asked it to. Nothing for a run
    // that met no failure. Read it once Upgrade has returned.
    const std::optional<UpgradeReason>& Reason() const { return reason_; }
    // True when the run ended early because the front end asked it to stop.
    bool Stopped() const { return stopped_; }
    std::int32_t ReadManifestDeviceType();
    // Sends `command` on the first handle and returns the whole 64-byte reply buffer. Raises
    // OSError when the exchange fails.
    std::string QueryDevice(const std::string& command);

    // PIC boot loader: switch the running firmware into its boot loader and find it again:
    // the one boot loader that the walk lists after the switch and did not list before it.
    bool GoBootLoad();
    // Switch, then erase, write, read back and verify the program memory from 0x0800 from an
    // image read beforehand (ReadWorkImage), write the EEPROM byte and restart the
    // microcontroller.
    bool WriteDataToUSBPic(const HexImage& image);
    // An Intel HEX image from the work folder. Throws EInOutError (the file cannot be read) or
    // EHexFormatError (refused), after a line on the debugger output.
    HexImage ReadWorkImage(std::string_view fileName, const HexImageLayout& layout);
    // The same with a reader of the file's own (a refusal is noted as the reason and raised).
    HexImage ReadWorkImage(std::string_view fileName, const std::function<HexImage(const std::filesystem::path&)>& read);

    // Fields.
    std::int32_t DeviceTypeCode = 0;
    std::atomic<std::int64_t> DoneCount{0};
    std::vector<Handle> Handles;
    std::vector<std::string> DeviceNames;
    std::string PackageFileName;
    std::string ErrorTrail;

    void SetStageText(std::string text);
    const Context& context() const { return ctx_; }

protected:
    void AppendTrail(std::string_view step);
    // Keeps `text` as the run's reason unless one is kept already.
    void NoteReason(ReasonKind kind, std::string text);
    // Takes the reason of an upgrader that did part of this run (one instrument of several) as
    // if this run had met it: a stop's, else the first one kept.
    void TakeReasonOf(const TUSBDevice& part);
    // Keeps the refusal of an image in the work folder (EInOutError, EHexFormatError) as the
    // run's reason; `fileName` is the image's name in the package.
    void NoteImageRefusal(std::string_view fileName, const std::exception& refusal);
    // True when the front end asks the run to stop (Context::stop); the run then keeps
    // "stopped " + `where` as its reason. Called only where the instrument can be left as it is.
    bool StopHere(const std::string& where);
    // The same, with the text made by `where()` only when the run stops: for the checks made at
    // every row or block, where the text would cost more than the step itself.
    template <std::invocable Where>
    bool StopHere(Where&& where) {
        return StopAsked() && StopHere(std::string(where()));
    }
    // "instrument PC000001" for the instrument that `path` reaches; "the instrument" when the
    // path carries no serial number.
    static std::string InstrumentLabel(const std::string& path);
    // The label of the first-generation instrument the first handle reaches (or reached last).
    std::string CurrentInstrument() const { return InstrumentLabel(openedPath_); }
    // The package's file name without its folder, as reasons name it.
    std::string PackageLabel() const;
    // The list text of the family this upgrader belongs to (by DeviceTypeCode).
    std::string_view FamilyName() const;
    // The work folder (Context::folders) / name.
    std::filesystem::path WorkFile(std::string_view name) const;
    // Open of the first-generation families: the first path of the first identifier that
    // lists any, else the fixed device path when the walk lists no instrument or only one boot
    // loader (with a walk restricted to chosen instruments: that boot loader's own path). Leaves
    // nothing in the trail.
    bool OpenFirstGeneration(std::initializer_list<std::string_view> pids);
    // Opens `path` as the first handle; `listedAs` is the interface path the walk shows for
    // the instrument it reaches (the fixed path stands for a listed one, or for none).
    bool OpenPath(const std::string& path, const std::string& listedAs);
    // After a restart: opens the one path that the walk lists now under the first of `pids`
    // that has any, and did not list in `before`. When the walk lists nothing at all, the fixed
    // path is tried (a driver that lists no interface), unless the walk is restricted to chosen
    // instruments. Never guesses between two new paths.
    enum class Reopen { Opened, NotYet, Ambiguous };
    Reopen OpenNewPath(const std::vector<std::string>& before, std::initializer_list<std::string_view> pids);
    // How a family's run ends: the message an exception leaves, and when the trail joins a
    // message that is still exactly "Error" ("Error: " + trail).
    enum class TrailRule { Never, Always, WhenNotEmpty };
    struct UpgradeRules {
        std::string_view exceptionMessage;
        TrailRule trail;
    };
    // The shape every Upgrade shares: the message starts as "Error"; the package is unpacked
    // ("The FWU file does not exist.") and the instrument opened ("Instrument is not
    // connected."), both ending the run at once; then the family's `stages` run, and every way
    // out of them closes the instrument; an exception leaves the rule's message; last, the
    // trail rule, unless `stages` returned false (an ending that keeps the trail out).
    void RunUpgrade(std::string& message, const UpgradeRules& rules, const std::function<bool(std::string&)>& stages);
    // True when the manifest's device type is the family's; otherwise `message` becomes the
    // family's wrong-kind text.
    bool ManifestFits(std::string& message, std::string_view wrongKindMessage);
    // The first handle, or the invalid handle when none is open.
    Handle FirstHandle() const { return Handles.empty() ? kInvalidHandle : Handles.front(); }
    // One more step of progress.
    void Step() { DoneCount.fetch_add(1, std::memory_order_relaxed); }
    // After the microcontroller has restarted into its new firmware: up to 11 attempts, 4 s
    // apart, to open it again, by a path of the family that was not listed before the restart.
    bool ReopenAfterRestart();
    // The reopen loop every family waits out a restart with: up to 11 attempts, each after
    // 4 s. `attempt` returns true (opened), false (give up now) or nothing (try again).
    // `instrument` (its label) names it in the reason when it does not come back.
    bool ReopenAttempts(const std::string& instrument, const std::function<std::optional<bool>()>& attempt);
    // Success means the new firmware runs: watches the interface walk (no request to the
    // instrument) for up to 30 s until `back` sees the instrument; otherwise the trail gets
    // "Not running the new firmware" and the result is false.
    bool AwaitFirmware(const std::function<bool(const FirstGenerationListing&)>& back);

    const Context& ctx_;
    // The identifier the family's firmware shows; the families set it.
    std::string_view firmwarePid_;
    // The interface path of the instrument the first handle reaches (or reached last), as the
    // walk lists it; empty when it was reached through the fixed path and nothing was listed.
    std::string openedPath_;
    // Every first-generation path the walk listed just before the boot loader restarted the
    // microcontroller into its new firmware.
    std::vector<std::string> pathsBeforeRestart_;

private:
    // Records the instruments Open has opened (the second generation's DeviceNames, else the
    // first handle's path).
    void RecordInstruments();
    // The front end asks the run to stop.
    bool StopAsked() const { return ctx_.stop != nullptr && ctx_.stop->load(std::memory_order_relaxed); }

    mutable std::mutex stageMutex_;
    std::string StageText;
    std::vector<RunInstrument> instruments_;  // guarded by stageMutex_
    std::vector<std::string> stages_;         // guarded by stageMutex_
    std::optional<UpgradeReason> reason_;
    bool stopped_ = false;
};

}  // namespace rovenza
