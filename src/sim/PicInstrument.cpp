#include "PicInstrument.h"

#include <fstream>
#include <stdexcept>
#include <utility>

namespace rovenza::sim {

std::uint8_t PicInstrument::BootBlockByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address & 0xFF) ^ 0xB5);
}

std::uint8_t PicInstrument::OldFirmwareByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 7 + 0x3C) & 0xFF);
}

PicInstrument::PicInstrument(const InstrumentSpec& setup)
    : Instrument(setup),
      mode_(setup.bootLoader ? PicMode::BootLoader : PicMode::Firmware),
      restartMs_(setup.restartMs),
      bootResetMs_(setup.bootResetMs),
      fpgaResetMs_(setup.fpgaResetMs),
      prmdMs_(setup.prmdMs),
      name_(setup.name ? *setup.name : std::string(family().name)),
      program_(kProgramSize, 0xFF),
      eeprom_(kEepromSize, 0x00) {
    for (std::uint32_t a = 0; a < kBootBlockEnd; ++a) program_[a] = BootBlockByte(a);
    for (std::uint32_t a = kBootBlockEnd; a < kOldFirmwareEnd; ++a) program_[a] = OldFirmwareByte(a);
    if (family().id == FamilyId::Ulmo) can_.assign(kCanFlashSize, 0xFF);
    for (const auto& [name, bytes] : setup.memories) {
        if (name == "program") program_ = bytes;
        if (name == "eeprom") eeprom_ = bytes;
        if (name == "fpga") fpga_.write(0, bytes, PagedMemory::Store::Copy);
        if (name == "can") can_ = bytes;
    }
}

std::string_view PicInstrument::pid() const {
    return mode_ == PicMode::BootLoader ? kPidBootLoader : family().firmwarePid;
}

std::string_view PicInstrument::friendlyName() const {
    return mode_ == PicMode::BootLoader ? kBootLoaderFriendlyName : family().listText;
}

void PicInstrument::act(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect) {
    if (mode_ == PicMode::BootLoader)
        receiveBootLoader(command, packet, nowUs, effect);
    else
        receiveFirmware(command, packet, nowUs, effect);
}

void PicInstrument::restartInto(PicMode mode, std::int64_t nowUs, std::uint32_t delayMs) {
    restart(nowUs, delayMs);
    mode_ = mode;  // it comes back in this mode
}

void PicInstrument::onLeave() {
    programmingFromUs_.reset();
    canHalf_.reset();
}

void PicInstrument::writeState(std::ostream& out) const {
    Instrument::writeState(out);
    out << "mode=" << (mode_ == PicMode::BootLoader ? "bootloader" : "firmware") << '\n'
        << "protectedWrites=" << protectedWrites_ << '\n';
    if (family().id == FamilyId::IrigClock)
        out << "programmingMode=" << (programmingFromUs_ ? 1 : 0) << '\n' << "fpgaBytes=" << fpga_.extent() << '\n';
    if (family().id == FamilyId::Ulmo)
        out << "canBlocks=" << canBlocks_ << '\n' << "canFinishes=" << canFinishes_ << '\n';
}

std::vector<std::string> PicInstrument::dumpMemories(const std::filesystem::path& folder) const {
    std::vector<std::string> names{"program", "eeprom"};
    if (family().id == FamilyId::IrigClock) names.push_back("fpga");
    if (family().id == FamilyId::Ulmo) names.push_back("can");
    for (const auto& name : names) {
        if (name == "fpga") {
            const auto file = folder / "fpga.bin";
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            fpga_.writeTo(out);
            out.close();
            if (!out) throw std::runtime_error("cannot write " + file.string());
            continue;
        }
        WriteBinaryFile(folder / (name + ".bin"), name == "program" ? program_ : name == "eeprom" ? eeprom_ : can_);
    }
    return names;
}

InstrumentSpec PicInstrument::setupAsNow() const {
    InstrumentSpec asNow = Instrument::setupAsNow();
    asNow.bootLoader = mode_ == PicMode::BootLoader;
    return asNow;
}

}  // namespace rovenza::sim
