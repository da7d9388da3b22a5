#pragma once
// Frames of the PIC USB boot loader. Every packet is 64 bytes on the wire:
//   byte 0 Cmd, byte 1 Len, bytes 2-3 Address (low byte first), byte 4 AddressUpper,
//   bytes 5-63 Data.
// One packet buffer serves a whole programming pass and is not cleared between commands,
// so bytes past the meaningful ones carry what the previous command left.
#include <array>
#include <cstdint>

namespace rovenza {

enum class PicCommand : std::uint8_t {
    READ_FLASH = 1,
    WRITE_FLASH = 2,
    ERASE_FLASH = 3,
    WRITE_EEDATA = 5,
    BOOT_RESET = 0xFF,
};

// Sent to the running firmware: restart into the boot loader.
inline constexpr std::array<std::uint8_t, 3> kEnterBootLoaderCommand{0x10, 0x00, 0x00};

inline constexpr std::uint32_t kBootPacketSize = 64;
inline constexpr std::uint32_t kBootDataOffset = 5;
inline constexpr std::uint32_t kRowSize = 32;
inline constexpr std::uint32_t kRowCount = 960;
inline constexpr std::uint16_t kFirstProgramAddress = 0x0800;
inline constexpr std::uint16_t kEepromAddress = 0x00FF;
// A READ_FLASH reply: the five header bytes, then the row.
inline constexpr std::uint32_t kReadFlashReplySize = kBootDataOffset + kRowSize;

inline constexpr std::uint16_t RowAddress(std::uint32_t row) {
    return static_cast<std::uint16_t>(kFirstProgramAddress + kRowSize * row);
}

class BootLoaderPacket {
public:
    // Sets Cmd, Len and the address bytes; leaves Data as it is.
    void SetHeader(PicCommand cmd, std::uint8_t len, std::uint16_t address);
    void SetData(const std::uint8_t* data, std::uint32_t length);
    const std::uint8_t* data() const { return bytes_.data(); }
    std::uint8_t* data() { return bytes_.data(); }

private:
    std::array<std::uint8_t, kBootPacketSize> bytes_{};
};

// True when a READ_FLASH reply of `replyLength` bytes carries `row` (32 bytes) from byte 5.
// A reply too short to hold the row counts as a difference.
bool ReadBackMatches(const std::uint8_t* reply, std::uint32_t replyLength, const std::uint8_t* row);

}  // namespace rovenza
