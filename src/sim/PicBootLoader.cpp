// The boot loader's side of the boot-loader packets.
#include <algorithm>

#include "PicInstrument.h"

namespace rovenza::sim {

namespace {

struct PacketHeader {
    std::uint8_t cmd;
    std::uint8_t len;
    std::uint32_t address;
};

PacketHeader ReadHeader(const Bytes& p) {
    return {p[0], p[1], static_cast<std::uint32_t>(p[2] | p[3] << 8 | p[4] << 16)};
}

// The Data bytes a write packet carries: Len of them, as far as the packet holds them.
std::size_t DataLength(const Bytes& p, std::uint8_t len) { return std::min<std::size_t>(len, p.size() - 5); }

// The 5 header bytes, then `count` bytes of program memory from `address` (0x00 past its end).
Bytes HeaderAndRowOf(const Bytes& p, const Bytes& program, std::uint32_t address, std::size_t count) {
    Bytes out(p.begin(), p.begin() + 5);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        out.push_back(a < program.size() ? program[a] : 0x00);
    }
    return out;
}

}  // namespace

void PicInstrument::receiveBootLoader(Command command, const Bytes& p, std::int64_t nowUs, const FaultEffect& effect) {
    switch (command) {
        case Command::ReadFlash: {
            const auto h = ReadHeader(p);
            reply(command, HeaderAndRowOf(p, program_, h.address, std::min<std::size_t>(h.len, 64 - 5)), nowUs);
            return;
        }
        case Command::WriteFlash: {
            const auto h = ReadHeader(p);
            Bytes data(p.begin() + 5, p.begin() + 5 + static_cast<std::ptrdiff_t>(DataLength(p, h.len)));
            if (effect.corruptMemory) SpoilFlashWrite(data, effect.corruptByte);
            bool refused = false;
            for (std::size_t i = 0; i < data.size(); ++i) {
                const std::uint32_t a = h.address + static_cast<std::uint32_t>(i);
                if (a < kBootBlockEnd)
                    refused = true;
                else if (a < kProgramSize)
                    program_[a] &= data[i];
            }
            if (refused) ++protectedWrites_;
            reply(command, HeaderAndRowOf(p, program_, h.address, 32), nowUs);
            return;
        }
        case Command::EraseFlash: {
            const std::uint32_t block = ReadHeader(p).address & ~(kEraseBlock - 1);
            if (block < kBootBlockEnd)
                ++protectedWrites_;
            else if (block < kProgramSize)
                std::fill_n(program_.begin() + block, kEraseBlock, std::uint8_t{0xFF});
            reply(command, Bytes{0x03}, nowUs);
            return;
        }
        case Command::WriteEedata: {
            const auto h = ReadHeader(p);
            const std::size_t count = DataLength(p, h.len);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t a = h.address + static_cast<std::uint32_t>(i);
                if (a < kEepromSize) eeprom_[a] = p[5 + i];
            }
            reply(command, Bytes{0x05}, nowUs);
            return;
        }
        case Command::BootReset:
            restartInto(PicMode::Firmware, nowUs, bootResetMs_);
            return;
        default:
            return;  // ignored, no reply
    }
}

}  // namespace rovenza::sim
