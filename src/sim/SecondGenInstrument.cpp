#include "SecondGenInstrument.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>

namespace rovenza::sim {

namespace {

constexpr std::uint32_t kSectors = kConfigFlashSize / kConfigFlashSector;
constexpr std::uint8_t kNoFlags = 0x01;  // bit 0 is active low: the host reads 0x00

std::uint32_t Address24(Packet p) { return static_cast<std::uint32_t>(p[1] << 16 | p[2] << 8 | p[3]); }
std::uint16_t Address16(Packet p) { return static_cast<std::uint16_t>(p[1] << 8 | p[2]); }

// The data bytes after a frame's fixed part of `header` bytes: `count` of them, as far as the
// frame holds them.
Packet DataOf(Packet p, std::size_t header, std::size_t count) { return p.subspan(header, std::min(count, p.size() - header)); }

// `count` bytes of `flash` from `address` into `out`.
void ReadFlashInto(const ConfigFlash& flash, std::uint32_t address, std::size_t count, ReplyBytes& out) {
    out.resize(count);
    flash.read(address, count, out.data());
}

}  // namespace

std::uint8_t SecondGenInstrument::OldEepromByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 13 + 0x29) ^ (address >> 8));
}

std::uint8_t SecondGenInstrument::OldConfigurationByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 5 + 0x71) ^ (address >> 9));
}

Bytes SecondGenInstrument::IdentityRecord(std::string_view serial) {
    Bytes record(kIdentityLength);
    for (std::uint32_t i = 0; i < kIdentityLength; ++i) record[i] = static_cast<std::uint8_t>(0xD0 + i);
    for (std::uint32_t i = 0; i < 8; ++i)
        record[kIdentitySerialOffset + i] = i < serial.size() ? static_cast<std::uint8_t>(serial[i]) : 0x00;
    return record;
}

SecondGenInstrument::SecondGenInstrument(const InstrumentSpec& setup)
    : Instrument(setup),
      restartMs_(setup.restartMs),
      eraseMs_(setup.eraseMs),
      modules_(setup.modules),
      eeprom_(kEeprom2Size),
      flash_(kConfigFlashSize),
      fpgaPower_(setup.fpgaPower) {
    for (std::uint32_t a = 0; a < kEeprom2Size; ++a) eeprom_[a] = OldEepromByte(a);
    const Bytes record = IdentityRecord(serial());
    std::copy(record.begin(), record.end(), eeprom_.begin() + kIdentityAddress);
    Bytes old(kOldConfigurationEnd);
    for (std::uint32_t a = 0; a < kOldConfigurationEnd; ++a) old[a] = OldConfigurationByte(a);
    if (const auto eeprom = setup.memories.find("eeprom"); eeprom != setup.memories.end()) eeprom_ = eeprom->second;
    const auto flash = setup.memories.find("fpga");
    flash_.program(0, flash == setup.memories.end() ? old : flash->second);
    if (family().id == FamilyId::Zenara) bridge_.emplace(setup);
}

void SecondGenInstrument::status(bool reportBusy, ReplyBytes& out) const {
    out.append(std::array<std::uint8_t, 5>{mode_, static_cast<std::uint8_t>(fpgaPower_ ? 1 : 0),
                                           static_cast<std::uint8_t>(reportBusy ? 1 : 0), 0x00, kNoFlags});
}

void SecondGenInstrument::act(Command command, Packet p, std::int64_t nowUs, const FaultEffect& effect) {
    const CommandInfo& info = Info(command);
    switch (command) {
        case Command::SetMode:
            mode_ = p[1];
            break;
        case Command::GetStatus:
            status(busy() || effect.busy, reply(command, nowUs));
            return;
        case Command::FlashRead:
            ReadFlashInto(flash_, Address24(p), std::min<std::uint32_t>(p[4], kMaxReply), reply(command, nowUs));
            return;
        case Command::FlashWrite: {
            Packet data = DataOf(p, info.headerLength, p[4]);
            Bytes spoilt;
            if (effect.corruptMemory) {
                spoilt.assign(data.begin(), data.end());
                SpoilFlashWrite(spoilt, effect.corruptByte);
                data = spoilt;
            }
            if (!busy()) flash_.program(Address24(p), data);
            ReadFlashInto(flash_, Address24(p), std::min<std::uint32_t>(p[4], kMaxReply), reply(command, nowUs));
            return;
        }
        case Command::FlashErase:
            erase_ = Erase{nowUs, 0, effect.busy};
            ++erases_;
            onTime(nowUs);  // an erase of no time is done at once
            break;
        case Command::MemRead: {
            ReplyBytes& out = reply(command, nowUs);
            out.resize(std::min<std::uint32_t>(p[3], kMaxReply));
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = eeprom_[(Address16(p) + i) % kEeprom2Size];
            return;
        }
        case Command::MemWrite: {
            const Packet data = DataOf(p, info.headerLength, p[3]);
            for (std::size_t i = 0; i < data.size(); ++i) eeprom_[(Address16(p) + i) % kEeprom2Size] = data[i];
            if (effect.corruptMemory && !data.empty()) {
                const std::size_t spoilt = std::min<std::size_t>(effect.corruptByte.value_or(0), data.size() - 1);
                eeprom_[(Address16(p) + spoilt) % kEeprom2Size] ^= 0x01;
            }
            if (!data.empty()) eepromRewritten_ = true;
            break;
        }
        case Command::FpgaPower:
            fpgaPower_ = p[1] != 0;
            break;
        case Command::I2cWrite:
            if (bridge_)
                if (const auto struck = bridge_->write(p, nowUs, faults())) setInnerFault(ActionName(*struck));
            break;
        case Command::I2cStartRead:
            break;
        case Command::I2cPoll:
            if (bridge_)
                bridge_->poll(nowUs, reply(command, nowUs));
            else
                reply(command, nowUs).push_back(0x00);
            return;
        default:
            return;  // not a request of this instrument: no reply
    }
    reply(command, nowUs).push_back(info.code);  // an acknowledgement: the request code
}

void SecondGenInstrument::onTime(std::int64_t nowUs) {
    if (!erase_ || erase_->hung) return;
    const std::int64_t elapsedUs = nowUs - erase_->startUs;
    const std::int64_t eraseUs = static_cast<std::int64_t>(eraseMs_) * 1000;
    const std::uint32_t due =
        eraseUs <= 0 || elapsedUs >= eraseUs ? kSectors : static_cast<std::uint32_t>(elapsedUs * kSectors / eraseUs);
    if (due > erase_->sectorsDone)
        flash_.erase(erase_->sectorsDone * kConfigFlashSector, due * kConfigFlashSector);
    erase_->sectorsDone = std::max(erase_->sectorsDone, due);
    if (erase_->sectorsDone == kSectors) erase_.reset();
}

void SecondGenInstrument::closed(std::int64_t nowUs) {
    if (eepromRewritten_) restart(nowUs, restartMs_);
}

void SecondGenInstrument::onLeave() {
    mode_ = 0;
    eepromRewritten_ = false;
    if (erase_ && erase_->hung) erase_.reset();
    if (bridge_) bridge_->reset();
}

void SecondGenInstrument::writeState(std::ostream& out) const {
    Instrument::writeState(out);
    out << "mode=" << static_cast<int>(mode_) << '\n'
        << "fpgaPower=" << (fpgaPower_ ? 1 : 0) << '\n'
        << "busy=" << (busy() ? 1 : 0) << '\n'
        << "erases=" << erases_ << '\n'
        << "eepromRewritten=" << (eepromRewritten_ ? 1 : 0) << '\n'
        << "fpgaBytes=" << flash_.extent() << '\n';
    if (!bridge_) return;
    out << "slotMask=" << static_cast<int>(bridge_->slotMask()) << '\n';
    for (int slot = 0; slot < kModuleSlots; ++slot) {
        const std::string key = "module" + std::to_string(slot + 1);
        out << key << '=';
        if (modules_[slot]) out << *modules_[slot];
        out << '\n';
        if (const auto& module = bridge_->modules()[slot])
            out << key << "Programming=" << (module->programming() ? 1 : 0) << '\n'
                << key << "Blocks=" << module->blocksStored() << '\n';
    }
}

std::vector<std::string> SecondGenInstrument::dumpMemories(const std::filesystem::path& folder) const {
    std::vector<std::string> names{"eeprom", "fpga"};
    WriteBinaryFile(folder / "eeprom.bin", eeprom_);
    const auto file = folder / "fpga.bin";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    flash_.writeTo(out);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + file.string());
    if (!bridge_) return names;
    for (int slot = 0; slot < kModuleSlots; ++slot) {
        if (const auto& module = bridge_->modules()[slot]) {
            names.push_back("module" + std::to_string(slot + 1));
            WriteBinaryFile(folder / (names.back() + ".bin"), module->flash());
        }
    }
    return names;
}

InstrumentSpec SecondGenInstrument::setupAsNow() const {
    InstrumentSpec asNow = Instrument::setupAsNow();
    asNow.fpgaPower = fpgaPower_;
    if (bridge_) asNow.slotMask = bridge_->slotMask();
    return asNow;
}

}  // namespace rovenza::sim
