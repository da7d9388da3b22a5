#include "FpgaConfig.h"

#include <algorithm>
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

std::array<std::uint8_t, kFpgaBlockSize> FpgaConfiguration::block(ImageFile::Reader& reader,
                                                                  std::size_t index) const {
    std::array<std::uint8_t, kFpgaBlockSize> bytes;
    bytes.fill(0xFF);
    const std::uint64_t first = std::uint64_t{index} * kFpgaChunkCharacters;
    if (first >= digits) return bytes;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kFpgaChunkCharacters, digits - first));
    std::array<std::uint8_t, kFpgaChunkCharacters> chars;
    reader.read(first, count, chars.data());
    for (std::size_t i = 0; i + 1 < count; i += 2)
        bytes[i / 2] = static_cast<std::uint8_t>(HexValue(static_cast<char>(chars[i])) * 16 +
                                                 HexValue(static_cast<char>(chars[i + 1])));
    return bytes;
}

FpgaTextResult ReadFpgaConfiguration(const std::filesystem::path& file) {
    FpgaTextResult result;
    const auto refuse = [&](FpgaTextError error, std::string reason) {
        result.error = error;
        result.reason = std::move(reason);
        return result;
    };
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || !std::ifstream(file, std::ios::binary)) return refuse(FpgaTextError::Missing, "cannot open " + file.string());
    if (size > kFpgaTextLimit)
        return refuse(FpgaTextError::TooLarge,
                      file.string() + " holds more than " + std::to_string(kFpgaTextLimit) + " characters");
    if (size == 0) return refuse(FpgaTextError::Empty, file.string() + " holds no hexadecimal digits");

    // The first character that is not a digit; a line end or blank there may still begin the
    // trailing run, which anything but line ends and blanks after it ends.
    std::optional<std::uint64_t> firstOther;
    std::optional<std::uint64_t> notHexadecimal;
    const auto check = [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) -> std::optional<std::string> {
        for (std::size_t i = 0; i < count; ++i) {
            const char c = static_cast<char>(bytes[i]);
            if (HexValue(c) >= 0 && !firstOther) continue;
            if (IsTrailingBlank(c)) {
                if (!firstOther) firstOther = offset + i;
                continue;
            }
            notHexadecimal = firstOther.value_or(offset + i);
            return file.string() + ": character " + std::to_string(*notHexadecimal + 1) + " is not a hexadecimal digit";
        }
        return std::nullopt;
    };
    FpgaConfiguration configuration;
    if (auto refusal = configuration.text.open(file, kFpgaTextLimit, check))
        return refuse(notHexadecimal ? FpgaTextError::NotHexadecimal : FpgaTextError::Missing,
                      notHexadecimal ? *refusal : "cannot read " + file.string());
    configuration.digits = firstOther.value_or(size);
    if (configuration.digits == 0) return refuse(FpgaTextError::Empty, file.string() + " holds no hexadecimal digits");
    if (configuration.digits % 2 != 0)
        return refuse(FpgaTextError::OddDigits, file.string() + ": odd number of hexadecimal digits");
    result.configuration = std::move(configuration);
    return result;
}

}  // namespace rovenza
