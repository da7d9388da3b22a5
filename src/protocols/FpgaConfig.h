#pragma once
// The IRIG clock's FPGA configuration: the configuration text and the firmware's programming
// commands. Every command starts 0x00 0x02 0x00 and a command letter; block addresses are
// 24 bits, most significant byte first.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/ImageFile.h"

namespace rovenza {

inline constexpr std::uint32_t kFpgaBlockSize = 32;
inline constexpr std::uint32_t kFpgaChunkCharacters = 2 * kFpgaBlockSize;
// The largest configuration text accepted (characters).
inline constexpr std::uintmax_t kFpgaTextLimit = std::uintmax_t{1} << 25;
// A read-block reply: 00 02 00 53, one byte of the firmware's own, then the block.
inline constexpr std::uint32_t kFpgaReadReplySize = 5 + kFpgaBlockSize;

// "P" + "PRMD": into programming mode (the firmware answers only when ready).
inline constexpr std::array<std::uint8_t, 8> kFpgaProgrammingMode{0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'};
inline constexpr std::array<std::uint8_t, 5> kFpgaSecondCommand{0x00, 0x02, 0x00, 0x51, 0x00};

std::vector<std::uint8_t> FpgaWriteBlockCommand(std::uint32_t address, const std::uint8_t* block);
std::vector<std::uint8_t> FpgaReadBlockCommand(std::uint32_t address);
// The boot-loader reset packet that ends the upload: Cmd 0xFF, Len 1, every other byte 0.
std::array<std::uint8_t, 64> FpgaResetPacket();
// True when a read-block reply of `length` bytes carries `block`; its fifth byte is the
// firmware's and is not compared.
bool FpgaReadBackMatches(const std::uint8_t* reply, std::uint32_t length, const std::uint8_t* block);

// The configuration text: hexadecimal digit pairs, two characters per byte (at least one
// pair), optionally followed by line ends and blanks. The blocks are the bytes in 32-byte
// pieces; the last piece is filled up with 0xFF. The text stays in its file (up to 32 MiB of
// characters) and is decoded a block at a time while it is written.
struct FpgaConfiguration {
    ImageFile text;           // checked: digits, then only line ends and blanks
    std::uint64_t digits = 0;  // the digits before the trailing line ends and blanks (even)

    std::size_t blocks() const {
        return static_cast<std::size_t>((digits / 2 + kFpgaBlockSize - 1) / kFpgaBlockSize);
    }
    // Block `index` as written: its bytes, 0xFF past the last pair. Reads the text through
    // `reader` (made on `text`); throws EImageChanged when the file no longer holds the text.
    std::array<std::uint8_t, kFpgaBlockSize> block(ImageFile::Reader& reader, std::size_t index) const;
};

enum class FpgaTextError { Missing, TooLarge, NotHexadecimal, OddDigits, Empty };

struct FpgaTextResult {
    std::optional<FpgaConfiguration> configuration;
    FpgaTextError error = FpgaTextError::Missing;
    std::string reason;  // for the debugger output
};

FpgaTextResult ReadFpgaConfiguration(const std::filesystem::path& file);

}  // namespace rovenza
