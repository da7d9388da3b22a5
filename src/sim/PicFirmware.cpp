// The firmware's side: the enter-boot-loader command and the name query for every family, the
// IRIG clock's FPGA configuration commands and the ULMO's CAN image packets.
//
// IRIG clock (every command begins 00 02 00 and a letter):
//   PRMD (..50 'PRMD')   answers 00 02 00 50 'O' 'K' once it is ready, prmdMs after the command;
//                        programming mode starts then.
//   FPGA_CMD2 (..51)     answers 00 02 00 51 00.
//   FPGA_WRITE (..52 A2 A1 A0, 32 bytes)  in programming mode: stores the block at the 24-bit
//                        address and answers 37 bytes: 00 02 00 52, status 00, the 32 bytes.
//   FPGA_READ (..53 A2 A1 A0)  in programming mode: 37 bytes: 00 02 00 53, status 00, the 32
//                        stored bytes (0xFF where nothing was stored).
//   Outside programming mode the block commands get no reply.
//   The final reset (a 64-byte packet with Cmd 0xFF): no reply; the instrument leaves the bus
//                        and returns, in firmware, after fpgaResetMs.
// ULMO:
//   CAN_FIRST (0A 00, header 02 00 AH AL at 2..5, block bytes 0..32 at 6..38)  keeps the half;
//                        64-byte reply, byte 0 = 0x01.
//   CAN_SECOND (0A 01, block bytes 33..63 at 2..32)  with a first half whose header was
//                        02 00: stores the 64-byte block at AH AL into the CAN flash; 64-byte
//                        reply, byte 0 = 0x01 when stored, else 0x00.
//   CAN_FINISH (0B 00 03 03 0F 00)  64-byte reply, byte 0 = 0x00 (0x01 if bytes 2..5 differ).
#include <algorithm>
#include <array>

#include "PicInstrument.h"

namespace rovenza::sim {

namespace {

std::uint32_t Address24(Packet p) { return static_cast<std::uint32_t>(p[4] << 16 | p[5] << 8 | p[6]); }

// Starts a firmware reply: 00 02 00 and the command's letter.
ReplyBytes& FirmwareReplyHead(ReplyBytes& out, std::uint8_t letter) {
    out.append(std::array<std::uint8_t, 4>{0x00, 0x02, 0x00, letter});
    return out;
}

}  // namespace

void PicInstrument::receiveFirmware(Command command, Packet p, std::int64_t nowUs, const FaultEffect& effect) {
    switch (command) {
        case Command::GoBootLoader:
            restartInto(PicMode::BootLoader, nowUs, restartMs_);
            return;
        case Command::QueryName: {
            ReplyBytes& out = FirmwareReplyHead(reply(command, nowUs), 0x0D);
            const auto name = std::span(reinterpret_cast<const std::uint8_t*>(name_.data()), name_.size());
            out.append(name.first(std::min(name.size(), ReplyBytes::kCapacity - out.size())));
            out.resize(64, 0x00);
            return;
        }
        default:
            if (family().id == FamilyId::IrigClock) receiveIrig(command, p, nowUs, effect);
            if (family().id == FamilyId::Ulmo) receiveUlmo(command, p, nowUs);
            return;
    }
}

void PicInstrument::receiveIrig(Command command, Packet p, std::int64_t nowUs, const FaultEffect& effect) {
    switch (command) {
        case Command::Prmd: {
            // Already in (or entering) programming mode: it answers once that is reached.
            if (!programmingFromUs_) programmingFromUs_ = nowUs + static_cast<std::int64_t>(prmdMs_) * 1000;
            ReplyBytes& out = FirmwareReplyHead(reply(command, std::max(nowUs, *programmingFromUs_)), 0x50);
            out.push_back('O');
            out.push_back('K');
            return;
        }
        case Command::FpgaCmd2: {
            FirmwareReplyHead(reply(command, nowUs), 0x51).push_back(0x00);
            return;
        }
        case Command::FpgaWrite: {
            if (!programmingMode(nowUs)) return;
            const std::uint32_t address = Address24(p);
            const Packet block = p.subspan(7, 32);
            Bytes stored(block.begin(), block.end());
            if (effect.corruptMemory) stored[std::min<std::size_t>(effect.corruptByte.value_or(0), 31)] ^= 0x01;
            fpga_.write(address, stored, PagedMemory::Store::Copy);
            ReplyBytes& out = FirmwareReplyHead(reply(command, nowUs), 0x52);
            out.push_back(0x00);
            out.append(block);
            return;
        }
        case Command::FpgaRead: {
            if (!programmingMode(nowUs)) return;
            const std::uint32_t address = Address24(p);
            ReplyBytes& out = FirmwareReplyHead(reply(command, nowUs), 0x53);
            out.push_back(0x00);
            out.append(fpga_.read(address, 32));
            return;
        }
        case Command::BootReset:
            restartInto(PicMode::Firmware, nowUs, fpgaResetMs_);
            return;
        default:
            return;
    }
}

void PicInstrument::receiveUlmo(Command command, Packet p, std::int64_t nowUs) {
    std::uint8_t status = 0x00;  // the reply's byte 0
    switch (command) {
        case Command::CanFirst:
            canHalf_ = CanHalf{static_cast<std::uint32_t>(p[4] << 8 | p[5]), p[2] == 0x02 && p[3] == 0x00,
                               Bytes(p.begin() + 6, p.begin() + 39)};
            status = 0x01;
            break;
        case Command::CanSecond:
            if (canHalf_ && canHalf_->headerOk) {
                Bytes block = canHalf_->bytes;
                block.insert(block.end(), p.begin() + 2, p.begin() + 33);
                const std::size_t count = std::min<std::size_t>(block.size(), kCanFlashSize - canHalf_->address);
                std::copy_n(block.begin(), count, can_.begin() + canHalf_->address);
                ++canBlocks_;
                status = 0x01;
            }
            canHalf_.reset();
            break;
        case Command::CanFinish: {
            static constexpr std::uint8_t kClosing[] = {0x03, 0x03, 0x0F, 0x00};
            const bool wellFormed = p.size() >= 6 && std::equal(p.begin() + 2, p.begin() + 6, kClosing);
            if (wellFormed) ++canFinishes_;
            status = wellFormed ? 0x00 : 0x01;
            break;
        }
        default:
            return;
    }
    ReplyBytes& out = reply(command, nowUs);
    out.push_back(status);
    out.resize(64, 0x00);
}

}  // namespace rovenza::sim
