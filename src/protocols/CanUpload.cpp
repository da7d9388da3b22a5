#include "CanUpload.h"

#include <algorithm>

namespace rovenza {

namespace {
constexpr std::uint32_t kFirstHalfBytes = 33;
}

CanPacket CanFirstHalf(std::uint16_t address, const std::uint8_t* block) {
    CanPacket packet{};
    packet[0] = 0x0A;
    packet[1] = 0x00;
    packet[2] = 0x02;
    packet[3] = 0x00;
    packet[4] = static_cast<std::uint8_t>(address >> 8);
    packet[5] = static_cast<std::uint8_t>(address);
    std::copy(block, block + kFirstHalfBytes, packet.begin() + 6);
    return packet;
}

CanPacket CanSecondHalf(const std::uint8_t* block) {
    CanPacket packet{};
    packet[0] = 0x0A;
    packet[1] = 0x01;
    std::copy(block + kFirstHalfBytes, block + kCanBlockSize, packet.begin() + 2);
    return packet;
}

CanPacket CanFinishCommand() {
    CanPacket packet{};
    packet[0] = 0x0B;
    packet[1] = 0x00;
    packet[2] = 0x03;
    packet[3] = 0x03;
    packet[4] = 0x0F;
    packet[5] = 0x00;
    return packet;
}

}  // namespace rovenza
