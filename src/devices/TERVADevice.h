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
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "USBDevice2.h"
#include "package/ImageFile.h"

namespace rovenza {

inline constexpr std::string_view kMsgCorruptedFile = "Corrupted file";
inline constexpr std::string_view kMsgPowerOffFailed = "Error: FPGA Power Off";
inline constexpr std::string_view kMsgNotTerva = "Instrument or FWU file is not TERVA!";

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

    // Sum of the sizes of the images that will be written; read by the progress timer.
    std::atomic<std::int32_t> ImageBytes{0};
    bool WriteUSBImage = true;
    bool WriteFPGAImage = true;

private:
    // One instrument from its power-off to its verified flash. False when the run must end
    // at once (the power-off failed); `failed` tells whether this instrument failed otherwise.
    bool UpgradeOne(std::size_t index, std::string& message, bool& failed);
    // Up to 11 attempts, 4 s apart, to open the instrument at `index` again after its restart.
    bool ReopenInstrument(std::size_t index);

    // OpenRawImage, naming the family a missing image's package is for.
    std::optional<std::string> OpenImage(const std::filesystem::path& path, std::size_t limit,
                                         ImageFile& image) const;

    std::vector<std::uint8_t> usbImage_;
    ImageFile fpgaImage_;
    std::string instrument_ = "the instrument";  // the label of the instrument being upgraded
};

}  // namespace rovenza
