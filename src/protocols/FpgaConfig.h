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
// pieces; the last piece is filled up with 0xFF.
struct FpgaConfiguration {
    std::vector<std::uint8_t> bytes;  // a whole number of blocks
    std::size_t blocks() const { return bytes.size() / kFpgaBlockSize; }
};

enum class FpgaTextError { Missing, TooLarge, NotHexadecimal, OddDigits, Empty };

struct FpgaTextResult {
    std::optional<FpgaConfiguration> configuration;
    FpgaTextError error = FpgaTextError::Missing;
    std::string reason;  // for the debugger output
};

FpgaTextResult ReadFpgaConfiguration(const std::filesystem::path& file);

}  // namespace rovenza
