#pragma once
// "Velkaro USB": per chosen instrument, the FPGA switched off, the USB controller's image
// written into the EEPROM and read back, the instrument left to restart and opened again, the
// FPGA's configuration flash erased, written and read back, and the FPGA switched on again when
// the manifest asks for it. Both images are raw binaries, read and checked whole before any
// instrument is touched. The EEPROM image (at most 64 KiB) is held; the flash image (up to
// 16 MiB) is read again from the work folder a piece at a time while it is written and verified,
// each piece checked against what was read first.
#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "USBDevice2.h"
#include "package/ImageFile.h"

namespace rovenza {

inline constexpr std::string_view kMsgCorruptedFile = "Corrupted file";
inline constexpr std::string_view kMsgPowerOffFailed = "Error: FPGA Power Off";
inline constexpr std::string_view kMsgNotTerva = "Instrument or FWU file is not TERVA!";

// What the upgrade of one instrument leaves for the run's message (FoldInstrument).
struct InstrumentEnding {
    bool failed = false;                 // the instrument was not upgraded
    bool endsRun = false;                // its FPGA could not be switched off: the run ends with it
    std::optional<std::string> message;  // the message its own steps set (wrong kind, power-off)
    std::string trail;                   // the trail entries it added, in order
    std::exception_ptr exception;        // an exception ended it (an upgrader of its own only)
};

class TTERVADevice2 : public TUSBDevice2 {
public:
    static constexpr std::int32_t kDeviceType = 3;
    // The largest images the instrument's address widths reach: 16 bits of EEPROM address,
    // 24 bits of flash address.
    static constexpr std::size_t kEepromImageLimit = 0x10000;
    static constexpr std::size_t kFlashImageLimit = 0x1000000;
    static constexpr std::size_t kEepromBlock = 16;
    static constexpr std::size_t kFlashBlock = 32;

    explicit TTERVADevice2(const Context& ctx);
    ~TTERVADevice2() override;

    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "TERVA"; }
    // Every byte counts once when written and once when verified.
    std::int64_t GetTotalCount() override { return 2 * static_cast<std::int64_t>(ImageBytes.load()); }
    void Upgrade(std::string& message) override;

    // Reads both images whole (those that will be written). False, with nothing kept, when one
    // is missing, cannot be read, is empty or is larger than its memory.
    bool PrepareImages(const std::filesystem::path& usbPath, const std::filesystem::path& fpgaPath);
    // One image: what is wrong with it, or nothing when the whole file exists, can be read,
    // holds at least one byte and at most `limit`; opens `image` on it.
    static std::optional<std::string> OpenRawImage(const std::filesystem::path& path, std::size_t limit,
                                                   ImageFile& image);
    // Writes the prepared EEPROM image 16 bytes a frame and reads it back; the instrument's
    // identity record stays as it was. False with the trail's entry on the first failure.
    bool WriteUSBEEPROM(Handle handle);
    // Erases the configuration flash, waits it out, writes the prepared image 32 bytes a frame
    // and reads it back. False with the trail's entry on the first failure.
    bool WriteFPGAFlash(Handle handle);
    // The manifest's Settings, read afresh on every call (default false).
    bool ReadFPGABitSwap() const;
    bool ReadFPGAPowerON() const;

    // Several chosen instruments at once: each is upgraded on an upgrader of its own that holds
    // that instrument's handle alone and the images this run prepared. `runner` gets them in
    // the instruments' order, calls UpgradeInstrument on each (each on a thread of its own,
    // say) and returns once every one has ended. Without a runner (the window) the instruments
    // are upgraded one after another on this object. Either way the run's message, trail and
    // reason are those the instruments give one after another in their order, but for one
    // difference: when an instrument's FPGA cannot be switched off the run fails with
    // "Error: FPGA Power Off" at that instrument, and one after another the later instruments
    // are never touched, while at once they have already been upgraded.
    using InstrumentRunner = std::function<void(const std::vector<std::shared_ptr<TTERVADevice2>>&)>;
    void SetInstrumentRunner(InstrumentRunner runner) { runner_ = std::move(runner); }
    // On an instrument's own upgrader: its upgrade from the FPGA's power-off on; it ends
    // closed, and never raises. Its progress, stages and reason are its own.
    void UpgradeInstrument();
    // What UpgradeInstrument left; read it once UpgradeInstrument has returned.
    const InstrumentEnding& Ending() const { return ending_; }

    // Sum of the sizes of the images that will be written; read by the progress timer.
    std::atomic<std::int32_t> ImageBytes{0};
    bool WriteUSBImage = true;
    bool WriteFPGAImage = true;

private:
    // One instrument from its power-off to its verified flash; `prefix` heads its stage texts.
    // The trail entries it adds are taken out of ErrorTrail into the ending.
    InstrumentEnding UpgradeOne(std::size_t index, const std::string& prefix);
    InstrumentEnding UpgradeSteps(std::size_t index, const std::string& prefix);
    // "Device 2/3 - " for the second of three instruments; empty for a run of one.
    static std::string DevicePrefix(std::size_t index, std::size_t count);
    // Folds one instrument's ending into the run's message and ErrorTrail, as the instruments
    // follow one another in their order: success only while no instrument has failed, a
    // failure takes back an earlier success, the wrong kind's and the power-off's own
    // messages. False when the run ends with this instrument; an exception that ended it is
    // raised again here.
    bool FoldInstrument(const InstrumentEnding& ending, std::string& message, bool& anyFailed);
    // The instruments one after another, or each on an upgrader of its own (runner_).
    bool UpgradeInOrder(std::string& message);
    bool UpgradeAtOnce(std::string& message);
    // An upgrader for the instrument at `index` alone: its handle moves there.
    std::shared_ptr<TTERVADevice2> InstrumentUpgrader(std::size_t index);
    // Gives `other` the images this run prepared: a copy of the EEPROM image (at most 64 KiB)
    // and of the flash image's checked file, which each reads through a reader of its own.
    void ShareImages(TTERVADevice2& other) const;
    // Up to 11 attempts, 4 s apart, to open the instrument at `index` again after its restart.
    bool ReopenInstrument(std::size_t index);

    // OpenRawImage, naming the family a missing image's package is for.
    std::optional<std::string> OpenImage(const std::filesystem::path& path, std::size_t limit,
                                         ImageFile& image) const;

    std::vector<std::uint8_t> usbImage_;
    ImageFile fpgaImage_;
    std::string instrument_ = "the instrument";  // the label of the instrument being upgraded
    InstrumentRunner runner_;
    std::string prefix_;  // an instrument's own upgrader: its stage texts' prefix in the run
    InstrumentEnding ending_;
};

}  // namespace rovenza
