#pragma once
// Request frames of the second-generation instruments and the decoding of their replies.
// Every frame starts with its request code; a reply is at most 64 bytes. Flash addresses are
// 24 bits and memory addresses 16 bits, most significant byte first.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace rovenza {

enum class Gen2Request : std::uint8_t {
    SET_MODE = 0xA0,
    GET_STATUS = 0xA1,
    FLASH_READ = 0xA5,
    FLASH_WRITE = 0xA6,
    FLASH_ERASE = 0xA7,
    MEM_READ = 0xA8,
    MEM_WRITE = 0xA9,
    I2C_WRITE = 0xAD,
    FPGA_POWER = 0xAF,
    I2C_START_READ = 0xB0,
    I2C_POLL = 0xB1,
};

struct Gen2RequestInfo {
    Gen2Request code;
    std::string_view name;
};

inline constexpr std::array<Gen2RequestInfo, 11> kGen2Requests{{
    {Gen2Request::SET_MODE, "SET_MODE"},
    {Gen2Request::GET_STATUS, "GET_STATUS"},
    {Gen2Request::FLASH_READ, "FLASH_READ"},
    {Gen2Request::FLASH_WRITE, "FLASH_WRITE"},
    {Gen2Request::FLASH_ERASE, "FLASH_ERASE"},
    {Gen2Request::MEM_READ, "MEM_READ"},
    {Gen2Request::MEM_WRITE, "MEM_WRITE"},
    {Gen2Request::I2C_WRITE, "I2C_WRITE"},
    {Gen2Request::FPGA_POWER, "FPGA_POWER"},
    {Gen2Request::I2C_START_READ, "I2C_START_READ"},
    {Gen2Request::I2C_POLL, "I2C_POLL"},
}};

// The name of a request code (a frame's first byte); empty for a code that is not a request.
constexpr std::string_view Gen2RequestName(std::uint8_t code) {
    for (const auto& request : kGen2Requests)
        if (static_cast<std::uint8_t>(request.code) == code) return request.name;
    return {};
}

// A reply that fails a check: too short, or not the echo it should be.
inline constexpr std::uint32_t kReplyCheckFailed = 0x2000;

inline constexpr std::size_t kGen2ReplyLimit = 64;
inline constexpr std::size_t kMemChunkLimit = 16;      // data bytes per memory frame
inline constexpr std::size_t kFlashWriteLimit = 255;   // data bytes per flash write
inline constexpr std::size_t kStatusReplySize = 5;

// The identity record in the instrument's memory; the serial number is read from it.
inline constexpr std::uint16_t kSerialBlockAddress = 0x1E00;
inline constexpr std::size_t kSerialBlockSize = 20;

std::vector<std::uint8_t> SetModeFrame(std::uint8_t mode);
std::vector<std::uint8_t> GetStatusFrame();
std::vector<std::uint8_t> FlashReadFrame(std::uint32_t address, std::uint8_t count);
// `length` is at most kFlashWriteLimit; it travels in one byte.
std::vector<std::uint8_t> FlashWriteFrame(std::uint32_t address, const std::uint8_t* data, std::size_t length);
// The same two frames written into `frame` (room for 5 bytes, and the data's); return their
// length. A flash image is millions of them.
std::size_t PutFlashReadFrame(std::uint8_t* frame, std::uint32_t address, std::uint8_t count);
std::size_t PutFlashWriteFrame(std::uint8_t* frame, std::uint32_t address, const std::uint8_t* data, std::size_t length);
std::vector<std::uint8_t> FlashEraseFrame();
// `count` is at most kMemChunkLimit.
std::vector<std::uint8_t> MemReadFrame(std::uint16_t address, std::uint8_t count);
std::vector<std::uint8_t> MemWriteFrame(std::uint16_t address, const std::uint8_t* data, std::uint8_t count);
std::vector<std::uint8_t> FpgaPowerFrame(bool on);

// The I2C bridge. Its frames carry 12 data bytes: three 32-bit words, each most significant
// byte first (command word and two parameters out; three reply words back).
inline constexpr std::size_t kWordFrameSize = 12;
using WordFrame = std::array<std::uint8_t, kWordFrameSize>;
struct Words {
    std::uint32_t w0 = 0;
    std::uint32_t w1 = 0;
    std::uint32_t w2 = 0;
    friend bool operator==(const Words&, const Words&) = default;
};

// The amplifier modules' bridge and its word commands.
inline constexpr std::uint8_t kModuleBridgeAddress = 0x3F;
enum class ModuleWordCommand : std::uint32_t {
    WriteWord = 19,      // (slot, word): one word to a module
    ReadWords = 20,      // (slot, 0xFFFFFFFF): up to 8 answer bytes from a module
    SetSlotMask = 21,    // (mask, 0xFFFFFFFF)
    QuerySlotMask = 23,  // (0xFFFFFFFF, 0xFFFFFFFF): the mask in reply word 0
};

WordFrame PackWordFrame(const Words& words);
Words UnpackWordFrame(const WordFrame& frame);

std::vector<std::uint8_t> I2cWriteFrame(std::uint8_t address, const WordFrame& data);
std::vector<std::uint8_t> I2cStartReadFrame(std::uint8_t address);
std::vector<std::uint8_t> I2cPollFrame();
// An I2C_POLL reply is ready when it is longer than 12 bytes and byte 0 is not 0; then bytes
// 1 to 12 are the data read. Returns whether it is ready; `data` is written only then.
bool DecodeI2cPollReply(const std::vector<std::uint8_t>& reply, WordFrame& data);

// Reverses the order of the four bytes of `value` in place.
void SwapWord(std::uint32_t& value);

// The status record, from reply bytes 0 to 4. Only `Busy` has a meaning the host relies on:
// non-zero while the instrument is still erasing its flash.
struct Gen2Status {
    std::int32_t Field0 = 0;
    std::int32_t Field1 = 0;
    std::uint8_t Busy = 0;
    std::uint8_t Field3 = 0;
    std::uint8_t Field4 = 0;  // reply byte 4 with its lowest bit inverted
};

// 0 and the record filled, or kReplyCheckFailed (record untouched) for fewer than 5 bytes.
std::uint32_t DecodeStatus(const std::vector<std::uint8_t>& reply, Gen2Status& status);

// A read reply cut to the bytes asked for; a shorter reply stays as it is.
std::span<const std::uint8_t> CutReply(std::span<const std::uint8_t> reply, std::size_t count);

// A flash write is confirmed when its reply, cut to the data's length, repeats the data.
std::uint32_t CheckFlashWriteEcho(std::span<const std::uint8_t> reply, const std::uint8_t* data, std::size_t length);

// Copies a memory read reply into `out` (`count` bytes). Bytes the reply does not carry are 0
// and make the chunk fail with kReplyCheckFailed.
std::uint32_t DecodeMemReadChunk(const std::vector<std::uint8_t>& reply, std::uint8_t* out, std::size_t count);

// Reverses the bit order of each of the first `length` bytes of `block` in place (bit 7 and
// bit 0 trade places, 6 and 1, 5 and 2, 4 and 3): 0x01 becomes 0x80, 0x12 becomes 0x48.
void SwapBits(std::uint8_t* block, std::size_t length);

// The identity record keeps its place in the EEPROM whatever image is written there: the bytes
// of `image` that fall on kSerialBlockAddress .. +kSerialBlockSize are replaced by the
// instrument's own `record`. An image that ends before the record is left as it is. Returns
// whether the image reaches the record.
bool KeepIdentityRecord(std::vector<std::uint8_t>& image, const std::uint8_t* record);

}  // namespace rovenza
