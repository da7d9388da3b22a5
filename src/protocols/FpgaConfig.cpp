#include "FpgaConfig.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace rovenza {

namespace {

constexpr std::uint8_t kCommandWriteBlock = 0x52;  // 'R'
constexpr std::uint8_t kCommandReadBlock = 0x53;   // 'S'

void PutAddress(std::vector<std::uint8_t>& frame, std::uint32_t address) {
    frame.push_back(static_cast<std::uint8_t>(address >> 16));
    frame.push_back(static_cast<std::uint8_t>(address >> 8));
    frame.push_back(static_cast<std::uint8_t>(address));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsTrailingBlank(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::uint8_t> FpgaWriteBlockCommand(std::uint32_t address, const std::uint8_t* block) {
    std::vector<std::uint8_t> frame{0x00, 0x02, 0x00, kCommandWriteBlock};
    PutAddress(frame, address);
    frame.insert(frame.end(), block, block + kFpgaBlockSize);
    return frame;
}

std::vector<std::uint8_t> FpgaReadBlockCommand(std::uint32_t address) {
    std::vector<std::uint8_t> frame{0x00, 0x02, 0x00, kCommandReadBlock};
    PutAddress(frame, address);
    return frame;
}

std::array<std::uint8_t, 64> FpgaResetPacket() {
    std::array<std::uint8_t, 64> packet{};
    packet[0] = 0xFF;
    packet[1] = 1;
    return packet;
}

bool FpgaReadBackMatches(const std::uint8_t* reply, std::uint32_t length, const std::uint8_t* block) {
    if (length < kFpgaReadReplySize) return false;
    if (reply[0] != 0x00 || reply[1] != 0x02 || reply[2] != 0x00 || reply[3] != kCommandReadBlock) return false;
    return std::equal(block, block + kFpgaBlockSize, reply + 5);
}

FpgaTextResult ReadFpgaConfiguration(const std::filesystem::path& file) {
    FpgaTextResult result;
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        result.error = FpgaTextError::Missing;
        result.reason = "cannot open " + file.string();
        return result;
    }
    if (size > kFpgaTextLimit) {
        result.error = FpgaTextError::TooLarge;
        result.reason = file.string() + " holds more than " + std::to_string(kFpgaTextLimit) + " characters";
        return result;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = FpgaTextError::Missing;
        result.reason = "cannot read " + file.string();
        return result;
    }
    std::size_t end = text.size();
    while (end > 0 && IsTrailingBlank(text[end - 1])) --end;
    if (end == 0) {
        result.error = FpgaTextError::Empty;
        result.reason = file.string() + " holds no hexadecimal digits";
        return result;
    }
    for (std::size_t i = 0; i < end; ++i) {
        if (HexValue(text[i]) < 0) {
            result.error = FpgaTextError::NotHexadecimal;
            result.reason = file.string() + ": character " + std::to_string(i + 1) + " is not a hexadecimal digit";
            return result;
        }
    }
    if (end % 2 != 0) {
        result.error = FpgaTextError::OddDigits;
        result.reason = file.string() + ": odd number of hexadecimal digits";
        return result;
    }
    FpgaConfiguration configuration;
    const std::size_t bytes = end / 2;
    const std::size_t blocks = (bytes + kFpgaBlockSize - 1) / kFpgaBlockSize;
    configuration.bytes.assign(blocks * kFpgaBlockSize, 0xFF);
    for (std::size_t i = 0; i < bytes; ++i)
        configuration.bytes[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
    result.configuration = std::move(configuration);
    return result;
}

}  // namespace rovenza
