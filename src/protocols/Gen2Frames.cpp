#include "Gen2Frames.h"

#include <algorithm>
#include <cstring>

namespace rovenza {

namespace {

using Frame = std::vector<std::uint8_t>;

std::uint8_t Code(Gen2Request request) { return static_cast<std::uint8_t>(request); }
std::uint8_t Byte(std::uint32_t value, int shift) { return static_cast<std::uint8_t>(value >> shift); }

}  // namespace

Frame SetModeFrame(std::uint8_t mode) { return {Code(Gen2Request::SET_MODE), mode}; }

Frame GetStatusFrame() { return {Code(Gen2Request::GET_STATUS)}; }

std::size_t PutFlashReadFrame(std::uint8_t* frame, std::uint32_t address, std::uint8_t count) {
    const std::uint8_t head[] = {Code(Gen2Request::FLASH_READ), Byte(address, 16), Byte(address, 8), Byte(address, 0), count};
    std::copy(std::begin(head), std::end(head), frame);
    return sizeof head;
}

std::size_t PutFlashWriteFrame(std::uint8_t* frame, std::uint32_t address, const std::uint8_t* data, std::size_t length) {
    const std::uint8_t head[] = {Code(Gen2Request::FLASH_WRITE), Byte(address, 16), Byte(address, 8), Byte(address, 0),
                                 static_cast<std::uint8_t>(length)};
    std::copy(std::begin(head), std::end(head), frame);
    std::copy(data, data + length, frame + sizeof head);
    return sizeof head + length;
}

Frame FlashReadFrame(std::uint32_t address, std::uint8_t count) {
    Frame frame(5);
    PutFlashReadFrame(frame.data(), address, count);
    return frame;
}

Frame FlashWriteFrame(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
    Frame frame(5 + length);
    PutFlashWriteFrame(frame.data(), address, data, length);
    return frame;
}

Frame FlashEraseFrame() { return {Code(Gen2Request::FLASH_ERASE)}; }

Frame MemReadFrame(std::uint16_t address, std::uint8_t count) {
    return {Code(Gen2Request::MEM_READ), Byte(address, 8), Byte(address, 0), count};
}

Frame MemWriteFrame(std::uint16_t address, const std::uint8_t* data, std::uint8_t count) {
    Frame frame(4 + std::size_t{count});
    frame[0] = Code(Gen2Request::MEM_WRITE);
    frame[1] = Byte(address, 8);
    frame[2] = Byte(address, 0);
    frame[3] = count;
    std::copy(data, data + count, frame.begin() + 4);
    return frame;
}

Frame FpgaPowerFrame(bool on) { return {Code(Gen2Request::FPGA_POWER), static_cast<std::uint8_t>(on ? 1 : 0)}; }

WordFrame PackWordFrame(const Words& words) {
    WordFrame frame{};
    const std::uint32_t values[3] = {words.w0, words.w1, words.w2};
    for (std::size_t w = 0; w < 3; ++w)
        for (int b = 0; b < 4; ++b) frame[4 * w + b] = Byte(values[w], 24 - 8 * b);
    return frame;
}

Words UnpackWordFrame(const WordFrame& frame) {
    auto word = [&](std::size_t w) {
        return std::uint32_t{frame[4 * w]} << 24 | std::uint32_t{frame[4 * w + 1]} << 16 |
               std::uint32_t{frame[4 * w + 2]} << 8 | std::uint32_t{frame[4 * w + 3]};
    };
    return {word(0), word(1), word(2)};
}

Frame I2cWriteFrame(std::uint8_t address, const WordFrame& data) {
    Frame frame(3 + kWordFrameSize);
    frame[0] = Code(Gen2Request::I2C_WRITE);
    frame[1] = address;
    frame[2] = static_cast<std::uint8_t>(kWordFrameSize);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    return frame;
}

Frame I2cStartReadFrame(std::uint8_t address) {
    return {Code(Gen2Request::I2C_START_READ), address, static_cast<std::uint8_t>(kWordFrameSize)};
}

Frame I2cPollFrame() { return {Code(Gen2Request::I2C_POLL)}; }

bool DecodeI2cPollReply(const std::vector<std::uint8_t>& reply, WordFrame& data) {
    if (reply.size() <= kWordFrameSize || reply[0] == 0) return false;
    std::copy(reply.begin() + 1, reply.begin() + 1 + kWordFrameSize, data.begin());
    return true;
}

void SwapWord(std::uint32_t& value) {
    value = (value & 0xFFu) << 24 | (value & 0xFF00u) << 8 | (value >> 8 & 0xFF00u) | value >> 24;
}

std::uint32_t DecodeStatus(const std::vector<std::uint8_t>& reply, Gen2Status& status) {
    if (reply.size() < kStatusReplySize) return kReplyCheckFailed;
    status.Field0 = reply[0];
    status.Field1 = reply[1];
    status.Busy = reply[2];
    status.Field3 = reply[3];
    status.Field4 = static_cast<std::uint8_t>(reply[4] ^ 0x01);
    return 0;
}

std::span<const std::uint8_t> CutReply(std::span<const std::uint8_t> reply, std::size_t count) {
    return reply.first(std::min(count, reply.size()));
}

std::uint32_t CheckFlashWriteEcho(std::span<const std::uint8_t> reply, const std::uint8_t* data, std::size_t length) {
    if (reply.size() < length || !std::equal(data, data + length, reply.begin())) return kReplyCheckFailed;
    return 0;
}

std::uint32_t DecodeMemReadChunk(const std::vector<std::uint8_t>& reply, std::uint8_t* out, std::size_t count) {
    const std::size_t carried = std::min(count, reply.size());
    std::copy(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(carried), out);
    std::fill(out + carried, out + count, std::uint8_t{0});
    return carried == count ? 0 : kReplyCheckFailed;
}

namespace {

// Reverses the bits of every byte of `bytes` at once: halves, then pairs, then neighbours trade
// places. (A 16 MiB image is swapped twice, to be written and to be verified.)
template <typename Word>
constexpr Word ReverseBitsOfEachByte(Word bytes) {
    constexpr Word k0F = static_cast<Word>(0x0F0F0F0F0F0F0F0FULL), k33 = static_cast<Word>(0x3333333333333333ULL),
                   k55 = static_cast<Word>(0x5555555555555555ULL);
    bytes = static_cast<Word>((bytes >> 4 & k0F) | (bytes & k0F) << 4);
    bytes = static_cast<Word>((bytes >> 2 & k33) | (bytes & k33) << 2);
    return static_cast<Word>((bytes >> 1 & k55) | (bytes & k55) << 1);
}

}  // namespace

void SwapBits(std::uint8_t* block, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, block + i, 8);
        word = ReverseBitsOfEachByte(word);
        std::memcpy(block + i, &word, 8);
    }
    for (; i < length; ++i) block[i] = ReverseBitsOfEachByte(block[i]);
}

bool KeepIdentityRecord(std::vector<std::uint8_t>& image, const std::uint8_t* record) {
    if (image.size() <= kSerialBlockAddress) return false;
    const std::size_t end = std::min<std::size_t>(image.size(), kSerialBlockAddress + kSerialBlockSize);
    std::copy(record, record + (end - kSerialBlockAddress), image.begin() + kSerialBlockAddress);
    return true;
}

}  // namespace rovenza
