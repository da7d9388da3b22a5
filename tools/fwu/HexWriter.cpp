#include "HexWriter.h"

#include <algorithm>
#include <stdexcept>

namespace rovenza {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendByte(std::string& out, std::uint8_t b) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

void AppendRecord(std::string& out, std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                  std::size_t count) {
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        AppendByte(out, b);
        sum = static_cast<std::uint8_t>(sum + b);
    };
    out += ':';
    put(static_cast<std::uint8_t>(count));
    put(static_cast<std::uint8_t>(address >> 8));
    put(static_cast<std::uint8_t>(address & 0xFF));
    put(type);
    for (std::size_t i = 0; i < count; ++i) put(data[i]);
    AppendByte(out, static_cast<std::uint8_t>(-sum));
    out += "\r\n";
}

void AppendExtendedLinear(std::string& out, std::uint16_t upper) {
    const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper & 0xFF)};
    AppendRecord(out, 0x04, 0, value, 2);
}

}  // namespace

std::string WriteIntelHex(const std::vector<std::uint8_t>& data, std::uint32_t startAddress, int bytesPerRecord) {
    if (bytesPerRecord < 1 || bytesPerRecord > 255)
        throw std::invalid_argument("Intel HEX records hold 1 to 255 bytes, not " + std::to_string(bytesPerRecord));
    if (std::uint64_t{startAddress} + data.size() > (std::uint64_t{1} << 32))
        throw std::invalid_argument("Intel HEX data reaches past 4 GiB");

    std::string out;
    out.reserve(data.size() * 2 + (data.size() / static_cast<std::size_t>(bytesPerRecord) + 2) * 13);
    std::uint64_t address = startAddress;
    std::uint32_t upper = 0;
    for (std::size_t i = 0; i < data.size();) {
        if ((address >> 16) != upper) {
            upper = static_cast<std::uint32_t>(address >> 16);
            AppendExtendedLinear(out, static_cast<std::uint16_t>(upper));
        }
        const std::uint64_t roomInSegment = 0x10000 - (address & 0xFFFF);
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>({static_cast<std::uint64_t>(bytesPerRecord), data.size() - i, roomInSegment}));
        AppendRecord(out, 0x00, static_cast<std::uint16_t>(address & 0xFFFF), data.data() + i, count);
        i += count;
        address += count;
    }
    out += ":00000001FF\r\n";
    return out;
}

std::string WriteHexPairs(const std::vector<std::uint8_t>& data) {
    std::string out;
    out.reserve(data.size() * 2);
    for (std::uint8_t b : data) AppendByte(out, b);
    return out;
}

std::vector<std::uint8_t> DemoImage(std::size_t size, std::uint32_t seed) {
    // splitmix64: small, fast, and fixed by its definition.
    std::uint64_t state = seed;
    std::vector<std::uint8_t> image;
    image.reserve(size);
    while (image.size() < size) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int k = 0; k < 8 && image.size() < size; ++k) image.push_back(static_cast<std::uint8_t>(z >> (8 * k)));
    }
    return image;
}

}  // namespace rovenza
