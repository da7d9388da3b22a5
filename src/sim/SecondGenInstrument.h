#pragma once
// The second-generation instrument ("Velkaro USB"; the Zenara instrument is the same one with
// module slots): a USB controller with a 64 KiB EEPROM that holds its firmware and identity
// record, a 16 MiB configuration flash for its FPGA, and the FPGA's power switch. Every
// request is one frame whose first byte is the request code; every reply is at most 64 bytes
// and ready at once.
//
//   SET_MODE (A0 m)              stores m; reply: A0.
//   GET_STATUS (A1)              reply: 5 bytes: mode, FPGA power (0/1), Busy (1 while an erase
//                                runs), 0, flags. The host inverts bit 0 of the flags byte, so
//                                the instrument sends 0x01 for "no flags".
//   FLASH_READ (A5 A2 A1 A0 n)   reply: min(n, 64) bytes of flash from the 24-bit address (0xFF
//                                past the end).
//   FLASH_WRITE (A6 A2 A1 A0 n data)  ANDs the n data bytes (as many as the frame holds) into
//                                the flash, unless an erase runs (then nothing is written);
//                                reply: the min(n, 64) bytes of flash as they now stand, which
//                                the host compares with its data.
//   FLASH_ERASE (A7)             starts an erase of the whole flash: Busy is set at once, the
//                                64 KiB sectors become 0xFF one after the other, and Busy clears
//                                eraseMs later, when the last one is done. Reply: A7.
//   MEM_READ (A8 AH AL k)        reply: min(k, 64) EEPROM bytes from the 16-bit address
//                                (addresses wrap at 64 KiB).
//   MEM_WRITE (A9 AH AL k data)  stores the k data bytes (as many as the frame holds); reply: A9.
//   FPGA_POWER (AF on)           switches the FPGA's power; reply: AF.
//   I2C_WRITE (AD ..), I2C_START_READ (B0 ..): reply: their code. A Zenara instrument hands
//                                I2C_WRITE to its module bridge (ModuleBridge.h), and I2C_POLL
//                                (B1) answers the bridge's poll reply; on a Velkaro instrument
//                                I2C_POLL answers 00 (nothing ready, ever).
//   A frame shorter than its request's fixed part, or of another code, gets no reply.
//
// Restart: once MEM_WRITE has stored a byte in the EEPROM, closing the instrument's last
// handle restarts it with its new firmware: it leaves the bus and is listed and openable
// again restartMs later. A restart clears the mode; the FPGA power stays as it was. A running
// erase goes on by its time; one that a "busy" fault hung ends with the restart.
//
// Memories at the start: the EEPROM holds an "old firmware" (OldEepromByte) with the identity
// record at 0x1E00 (IdentityRecord: the serial in bytes 10-17, zero-padded); the flash holds
// an "old configuration" (OldConfigurationByte) below 0x40000 and 0xFF above. The FPGA is
// powered. The set-up's "memories" and "fpgaPower" replace those starts.
#include <array>
#include <optional>

#include "sim/ConfigFlash.h"
#include "sim/Instrument.h"
#include "sim/ModuleBridge.h"

namespace rovenza::sim {

class SecondGenInstrument final : public Instrument {
public:
    explicit SecondGenInstrument(const InstrumentSpec& setup);

    std::string_view pid() const override { return family().firmwarePid; }
    const std::array<std::optional<int>, kModuleSlots>& modules() const { return modules_; }
    // The Zenara instrument's I2C bridge and its modules; nothing on a Velkaro instrument.
    const std::optional<ModuleBridge>& bridge() const { return bridge_; }

    const Bytes& eeprom() const { return eeprom_; }
    const ConfigFlash& flash() const { return flash_; }
    std::uint8_t mode() const { return mode_; }
    bool fpgaPower() const { return fpgaPower_; }
    // An erase is running (as of the last request or query).
    bool busy() const { return erase_.has_value(); }
    std::uint32_t erases() const { return erases_; }
    // MEM_WRITE stored a byte since the instrument last restarted.
    bool eepromRewritten() const { return eepromRewritten_; }

    Command recognise(Packet packet) const override {
        return RecogniseSecondGeneration(packet.data(), packet.size());
    }
    void closed(std::int64_t nowUs) override;

    void writeState(std::ostream& out) const override;
    std::vector<std::string> dumpMemories(const std::filesystem::path& folder) const override;
    InstrumentSpec setupAsNow() const override;

    // Initial memory contents.
    static std::uint8_t OldEepromByte(std::uint32_t address);
    static std::uint8_t OldConfigurationByte(std::uint32_t address);
    // The 20-byte identity record: the serial's characters in bytes 10-17 (zeros after a
    // shorter serial), 0xD0 + i in every other byte i.
    static Bytes IdentityRecord(std::string_view serial);

protected:
    // `effect.corruptMemory`: MEM_WRITE stores its first byte with bit 0 flipped; FLASH_WRITE
    // clears one bit it should keep (SpoilFlashWrite). `effect.busy`: FLASH_ERASE hangs
    // (Busy stays set, nothing is erased); GET_STATUS reports Busy whatever the erase does.
    void act(Command command, Packet packet, std::int64_t nowUs, const FaultEffect& effect) override;
    void onLeave() override;
    void onTime(std::int64_t nowUs) override;

private:
    struct Erase {
        std::int64_t startUs;
        std::uint32_t sectorsDone;
        bool hung;
    };

    void status(bool reportBusy, ReplyBytes& out) const;

    std::uint32_t restartMs_, eraseMs_;
    std::array<std::optional<int>, kModuleSlots> modules_;
    std::optional<ModuleBridge> bridge_;
    Bytes eeprom_;
    ConfigFlash flash_;
    std::uint8_t mode_ = 0;
    bool fpgaPower_;
    bool eepromRewritten_ = false;
    std::optional<Erase> erase_;
    std::uint32_t erases_ = 0;
};

}  // namespace rovenza::sim
