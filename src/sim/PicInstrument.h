#pragma once
// The first-generation instrument: a PIC USB microcontroller that runs either its family's
// firmware (listed under the family's product identifier) or its boot loader (0DAC).
//
// Boot loader (64-byte packets: Cmd, Len, Address low, Address high, AddressUpper, Data):
//   READ_FLASH   (1)  reply: the 5 header bytes, then Len (at most 59) bytes of program
//                     memory (addresses past the 32 KiB read as 0x00).
//   WRITE_FLASH  (2)  flash semantics: each of the Len bytes is ANDed into memory (a write only
//                     clears bits); reply: 37 bytes, the 5 header bytes and the 32 bytes of
//                     flash from Address as they now stand. (The host's repeated READ_FLASH
//                     takes the byte count of this reply as its limit, so it must be 37.)
//   ERASE_FLASH  (3)  erases the 64-byte block holding Address (two rows) to 0xFF, whatever Len
//                     says; reply: 1 byte, 0x03.
//   WRITE_EEDATA (5)  stores Len bytes into the 256-byte EEPROM at Address; reply: 1 byte, 0x05.
//   BOOT_RESET (0xFF) no reply; the instrument leaves the bus and returns in firmware mode after
//                     bootResetMs.
//   The boot block 0x0000-0x07FF is write-protected: writes and erases there change nothing
//   (the reply is the usual one); each packet that touched it counts in protectedWrites().
//   Anything else, including the enter-boot-loader command, is ignored without a reply.
// Firmware (every family):
//   GO_BOOTLOADER (10 00 00) no reply; the instrument leaves the bus at once (so the host's read
//                     fails with 1167) and returns in its boot loader after restartMs.
//   QUERY_NAME (00 02 00 0D 00) reply: 64 bytes, the command's 4 bytes, then the name, zeros.
// IRIG clock firmware: PRMD, FPGA_CMD2, FPGA_WRITE, FPGA_READ and the final reset (see
//   PicFirmware.cpp). ULMO firmware: CAN_FIRST, CAN_SECOND, CAN_FINISH.
// Unrecognised packets get no reply (the host's read times out).
#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/Instrument.h"
#include "sim/PagedMemory.h"
#include "sim/Recorder.h"

namespace rovenza::sim {

enum class PicMode : std::uint8_t { Firmware, BootLoader };

// The packet's command, as the instrument in `mode` would take it. Pure: bytes in, name out.
Command Recognise(FamilyId family, PicMode mode, Packet packet);

class PicInstrument final : public Instrument {
public:
    explicit PicInstrument(const InstrumentSpec& setup);

    PicMode mode() const { return mode_; }
    std::string_view pid() const override;
    std::string_view friendlyName() const override;

    // Memories: 32 KiB program flash (boot block 0x0000-0x07FF: BootBlockByte(); an "old
    // firmware" OldFirmwareByte() from 0x0800 to 0x5FFF; 0xFF above), 256-byte EEPROM (all
    // 0x00 at start, so the host's 0xFF at 0xFF shows), the IRIG clock's FPGA configuration
    // store (empty at start, grows to the highest byte written; unwritten bytes 0xFF), the
    // ULMO's 64 KiB CAN flash (0xFF at start). The set-up's "memories" replace those starts.
    Bytes& program() { return program_; }
    const Bytes& program() const { return program_; }
    Bytes& eeprom() { return eeprom_; }
    const Bytes& eeprom() const { return eeprom_; }
    // The FPGA configuration store up to the highest byte written.
    Bytes fpga() const { return fpga_.read(0, fpga_.extent()); }
    Bytes& can() { return can_; }
    const Bytes& can() const { return can_; }

    // IRIG clock: true from the moment PRMD is done until the instrument leaves the bus.
    bool programmingMode(std::int64_t nowUs) const { return programmingFromUs_ && nowUs >= *programmingFromUs_; }
    std::uint32_t protectedWrites() const { return protectedWrites_; }
    std::uint32_t canBlocksStored() const { return canBlocks_; }
    std::uint32_t canFinishes() const { return canFinishes_; }

    Command recognise(Packet packet) const override { return Recognise(family().id, mode_, packet); }

    void writeState(std::ostream& out) const override;
    std::vector<std::string> dumpMemories(const std::filesystem::path& folder) const override;
    InstrumentSpec setupAsNow() const override;

    // Initial memory contents: a recognisable boot loader and an "old firmware".
    static std::uint8_t BootBlockByte(std::uint32_t address);
    static std::uint8_t OldFirmwareByte(std::uint32_t address);

protected:
    // With `effect.corruptMemory` a memory write stores one wrong byte.
    void act(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect) override;
    void onLeave() override;

private:
    void receiveBootLoader(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect);
    void receiveFirmware(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect);
    void receiveIrig(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect);
    void receiveUlmo(Command command, Packet packet, std::int64_t nowUs);
    void restartInto(PicMode mode, std::int64_t nowUs, std::uint32_t delayMs);

    PicMode mode_;
    std::uint32_t restartMs_, bootResetMs_, fpgaResetMs_, prmdMs_;
    std::string name_;
    Bytes program_, eeprom_, can_;
    PagedMemory fpga_{kFpgaStoreSize};
    std::optional<std::int64_t> programmingFromUs_;
    struct CanHalf {
        std::uint32_t address;
        bool headerOk;
        Bytes bytes;  // block bytes 0 to 32
    };
    std::optional<CanHalf> canHalf_;
    std::uint32_t protectedWrites_ = 0;
    std::uint32_t canBlocks_ = 0;
    std::uint32_t canFinishes_ = 0;
};

}  // namespace rovenza::sim
