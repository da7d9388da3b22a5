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

PacketHeader ReadHeader(Packet p) {
    return {p[0], p[1], static_cast<std::uint32_t>(p[2] | p[3] << 8 | p[4] << 16)};
}

// The Data bytes a write packet carries: Len of them, as far as the packet holds them.
std::size_t DataLength(Packet p, std::uint8_t len) { return std::min<std::size_t>(len, p.size() - 5); }

// Into `out`: the 5 header bytes, then `count` bytes of program memory from `address` (0x00
// past its end).
void HeaderAndRowOf(Packet p, const Bytes& program, std::uint32_t address, std::size_t count, ReplyBytes& out) {
    out.append(p.first(5));
    if (address < program.size())
        out.append(std::span(program).subspan(address, std::min<std::size_t>(count, program.size() - address)));
    out.resize(5 + count, 0x00);
}

}  // namespace

void PicInstrument::receiveBootLoader(Command command, Packet p, std::int64_t nowUs, const FaultEffect& effect) {
    switch (command) {
        case Command::ReadFlash: {
            const auto h = ReadHeader(p);
            HeaderAndRowOf(p, program_, h.address, std::min<std::size_t>(h.len, 64 - 5), reply(command, nowUs));
            return;
        }
        case Command::WriteFlash: {
            const auto h = ReadHeader(p);
            Packet data = p.subspan(5, DataLength(p, h.len));
            Bytes spoilt;
            if (effect.corruptMemory) {
                spoilt.assign(data.begin(), data.end());
                SpoilFlashWrite(spoilt, effect.corruptByte);
                data = spoilt;
            }
            // Bytes in the boot block are refused, bytes past the program memory dropped.
            const std::uint32_t end = h.address + static_cast<std::uint32_t>(data.size());
            const std::uint32_t from = std::max(h.address, kBootBlockEnd), to = std::min(end, kProgramSize);
            if (from < to) AndInto(program_.data() + from, data.data() + (from - h.address), to - from);
            if (h.address < std::min(end, kBootBlockEnd)) ++protectedWrites_;
            HeaderAndRowOf(p, program_, h.address, 32, reply(command, nowUs));
            return;
        }
        case Command::EraseFlash: {
            const std::uint32_t block = ReadHeader(p).address & ~(kEraseBlock - 1);
            if (block < kBootBlockEnd)
                ++protectedWrites_;
            else if (block < kProgramSize)
                std::fill_n(program_.begin() + block, kEraseBlock, std::uint8_t{0xFF});
            reply(command, nowUs).push_back(0x03);
            return;
        }
        case Command::WriteEedata: {
            const auto h = ReadHeader(p);
            const std::size_t count = DataLength(p, h.len);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t a = h.address + static_cast<std::uint32_t>(i);
                if (a < kEepromSize) eeprom_[a] = p[5 + i];
            }
            reply(command, nowUs).push_back(0x05);
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
