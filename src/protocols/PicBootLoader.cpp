#include "PicBootLoader.h"

#include <algorithm>
#include <cstring>

namespace rovenza {

void BootLoaderPacket::SetHeader(PicCommand cmd, std::uint8_t len, std::uint16_t address) {
    bytes_[0] = static_cast<std::uint8_t>(cmd);
    bytes_[1] = len;
    bytes_[2] = static_cast<std::uint8_t>(address & 0xFF);
    bytes_[3] = static_cast<std::uint8_t>(address >> 8);
    bytes_[4] = 0;  // AddressUpper: the program memory lies below 64 KiB
}

void BootLoaderPacket::SetData(const std::uint8_t* data, std::uint32_t length) {
    std::memcpy(bytes_.data() + kBootDataOffset, data, std::min(length, kBootPacketSize - kBootDataOffset));
}

bool ReadBackMatches(const std::uint8_t* reply, std::uint32_t replyLength, const std::uint8_t* row) {
    if (replyLength < kReadFlashReplySize) return false;
    return std::equal(row, row + kRowSize, reply + kBootDataOffset);
}

}  // namespace rovenza
