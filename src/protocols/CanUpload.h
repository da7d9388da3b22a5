#pragma once
// The ULMO's CAN image packets: each 64-byte block of the CAN microcontroller's image travels
// in two 64-byte packets to the USB firmware, which forwards it; a closing command ends the
// upload.
#include <array>
#include <cstdint>

namespace rovenza {

inline constexpr std::uint32_t kCanBlockSize = 64;
inline constexpr std::uint32_t kCanBlockCount = 1000;
inline constexpr std::uint16_t kCanFirstAddress = 0x0600;
inline constexpr std::uint32_t kCanPacketSize = 64;
inline constexpr std::uint8_t kCanBlockAccepted = 0x01;
inline constexpr std::uint8_t kCanFinishAccepted = 0x00;

using CanPacket = std::array<std::uint8_t, kCanPacketSize>;

// 0x0A 0x00, the block header 0x02 0x00 AH AL, block bytes 0 to 32; the rest 0.
CanPacket CanFirstHalf(std::uint16_t address, const std::uint8_t* block);
// 0x0A 0x01, block bytes 33 to 63; the rest 0.
CanPacket CanSecondHalf(const std::uint8_t* block);
// 0x0B 0x00 0x03 0x03 0x0F 0x00; the rest 0.
CanPacket CanFinishCommand();

}  // namespace rovenza
