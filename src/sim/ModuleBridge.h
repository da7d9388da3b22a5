#pragma once
// The Zenara instrument's I2C bridge (I2C address 0x3F) and the amplifier modules in its eight
// slots.
//
// Bridge. An I2C_WRITE to 0x3F with the length byte 12 carries a word frame: three 32-bit
// words (command, parameter 1, parameter 2), each most significant byte first. The bridge
// acts on it at once and has its reply (three words) ready i2cLatencyUs later; until then,
// and for a frame it does not answer, I2C_POLL reports "not ready" (13 bytes, byte 0 = 0).
// Once ready, I2C_POLL answers 01 and the 12 reply bytes, as often as it is asked, until the
// next I2C_WRITE. I2C_START_READ is acknowledged and changes nothing. Word commands:
//   19 (slot, word)       one word to the module in slot 0-7, its four bytes in order;
//                         reply (0, 0, 0).
//   20 (slot, -)          up to 8 bytes of the module's pending answer: reply (c, w1, w2),
//                         c the number of valid bytes, which are the first c of w1 then w2,
//                         most significant byte first, zero-filled. The bytes are consumed.
//   21 (mask, -)          sets the slot mask to the low 8 bits of mask; reply (mask, 0, 0).
//   23 (-, -)             reply (mask, 0, 0).
// 19 and 20 on an empty slot, a slot whose mask bit is clear or a slot above 7 are not
// answered; nor are other word commands, other I2C addresses or other lengths. The slot mask
// starts at the bench file's "slotMask" (0).
//
// Module. The module microcontroller gathers the bytes of the words it is sent into frames
// A5 L code payload(L - 1) 5A; bytes before an A5 (the zero fill of a frame's last word) are
// skipped, and a frame without its 5A end mark is dropped. Each command replaces the pending
// answer with A5 L status payload(L - 1) 5A. The answer is ready at once, except where the
// module works first: 0x54 and 0x53 (kModuleModeWorkMs) and a block that ends a group
// (kModuleGroupWorkMs, writing the group); a read before then finds no bytes (count 0). The
// host's waits after those commands (50 and 20 ms) cover the work.
//   A7        status 0, payload the module's type code (a raw code as the bench file gives it).
//   54        enters programming mode; status 0.
//   50 block  (programming mode only, a 10-byte payload: address high, low, 8 data bytes)
//             stores the 8 bytes at the address. Blocks come in groups of eight (64 bytes,
//             aligned); the block at offset 56 of its group is answered with the group's
//             checksum, the XOR of the data bytes of the eight blocks the module holds for
//             that group; the others with status 0. A repeated block replaces its earlier
//             copy. Outside programming mode, with another payload length or below address
//             0x600 (the module's boot area) a block is refused with status 1 and not stored.
//   53        leaves programming mode; status 0.
//   other     status 1.
// The module's flash runs from 0 to 0x600 + its type's image length + one 64-byte group (the
// group of zeros that ends a programming run); a raw type code gets the largest image length.
// Bytes past its end are dropped. It starts with an "old firmware" (OldModuleByte).
//
// Faults on a module command (request "0x50", "0xA7", ...; "slot" 1-8 strikes that slot only
// and counts its occurrences in that slot alone), matched when a complete frame reaches the
// module:
//   fail          the command is not carried out; the answer's status is the rule's code
//                 (its low byte, 1 if that is 0): "code": 9 gives status 9, the default 31 a
//                 status the host does not accept. The payload is the usual one.
//   corrupt       the answer starts 00 instead of A5 (no acknowledgement mark).
//   short         the answer is cut to "length" bytes (default: all but its last byte).
//   timeout       the module leaves no answer (the bridge reads a count of 0).
//   badchecksum   (0x50) a checksum answer is the group's checksum XOR 0xFF.
//   "on": "read" with timeout: the bridge does not answer the reads of this answer (the host's
//   poll runs out of time); with corrupt: the bridge's first read reports a count of 9.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "sim/BenchSpec.h"
#include "sim/FaultPlan.h"
#include "sim/Instrument.h"
#include "sim/Recorder.h"

namespace rovenza::sim {

inline constexpr std::uint8_t kBridgeAddress = 0x3F;
inline constexpr std::uint8_t kWordFrameLength = 12;
inline constexpr std::uint32_t kWordWriteModule = 19;
inline constexpr std::uint32_t kWordReadModule = 20;
inline constexpr std::uint32_t kWordSetSlotMask = 21;
inline constexpr std::uint32_t kWordGetSlotMask = 23;

inline constexpr std::uint8_t kFrameStart = 0xA5;
inline constexpr std::uint8_t kFrameEnd = 0x5A;
inline constexpr std::uint8_t kModuleTypeQuery = 0xA7;
inline constexpr std::uint8_t kModuleEnterProgramming = 0x54;
inline constexpr std::uint8_t kModuleBlock = 0x50;
inline constexpr std::uint8_t kModuleLeaveProgramming = 0x53;
inline constexpr std::uint8_t kModuleStatusRefused = 1;

inline constexpr std::uint32_t kModuleImageBase = 0x600;  // the blocks' first address
inline constexpr std::uint32_t kModuleBlockData = 8;      // image bytes per block
inline constexpr std::uint32_t kModuleGroupBlocks = 8;
inline constexpr std::uint32_t kModuleGroupBytes = kModuleBlockData * kModuleGroupBlocks;
// The module's own work before its answer is ready: entering or leaving programming mode, and
// writing a group of eight blocks into its flash.
inline constexpr std::uint32_t kModuleModeWorkMs = 30;
inline constexpr std::uint32_t kModuleGroupWorkMs = 10;

// Bytes of flash a module of `typeCode` holds: its boot area, its image and the closing group.
std::uint32_t ModuleFlashSize(int typeCode);

// "0x50": how the bench file names a module command.
std::string ModuleCommandName(std::uint8_t code);

class AmplifierModule {
public:
    // `flash`: the flash's starting contents (the "old firmware" where it ends early).
    explicit AmplifierModule(int typeCode, const Bytes* flash = nullptr);

    int typeCode() const { return typeCode_; }
    bool programming() const { return programming_; }
    const Bytes& flash() const { return flash_; }
    std::uint32_t blocksStored() const { return blocksStored_; }
    static std::uint8_t OldModuleByte(std::uint32_t address);

    // One word from the bridge. Returns the frame's code and payload once the word completes
    // a frame.
    std::optional<Bytes> feed(std::uint32_t word);
    // Carries out a frame's command (code and payload), shaped by `fault`.
    void execute(const Bytes& body, const std::optional<FaultRule>& fault, std::int64_t nowUs);
    // The bridge reads up to `max` answer bytes at `nowUs` (they are consumed); none while the
    // module is still working on its command.
    Bytes read(std::size_t max, std::int64_t nowUs);
    // "on": "read" faults of the pending answer.
    bool bridgeSilent() const { return bridgeSilent_; }
    bool takeCountOverflow() { return std::exchange(countOverflow_, false); }

private:
    std::uint8_t block(const Bytes& payload, bool carryOut, bool& checksumAnswer);

    int typeCode_;
    Bytes flash_;
    Bytes received_;
    Bytes answer_;
    std::int64_t answerReadyAtUs_ = 0;
    bool programming_ = false;
    bool bridgeSilent_ = false;
    bool countOverflow_ = false;
    std::uint32_t group_ = 0;  // address / 64 of the group being written
    std::array<std::optional<std::uint8_t>, kModuleGroupBlocks> blockXor_{};
    std::uint32_t blocksStored_ = 0;
};

class ModuleBridge {
public:
    explicit ModuleBridge(const InstrumentSpec& setup);

    // I2C_WRITE: the whole request frame (AD address 12 data). Returns the action of a fault
    // rule that struck the module command the frame completed.
    std::optional<FaultAction> write(Packet frame, std::int64_t nowUs, FaultPlan& faults);
    // I2C_POLL's reply at `nowUs`, into `out` (empty).
    void poll(std::int64_t nowUs, ReplyBytes& out) const;
    // The instrument left the bus: a reply being prepared is lost.
    void reset() { reply_.reset(); }

    std::uint8_t slotMask() const { return mask_; }
    const std::array<std::optional<AmplifierModule>, kModuleSlots>& modules() const { return modules_; }

private:
    AmplifierModule* reachable(std::uint32_t slot);

    std::uint32_t latencyUs_;
    std::uint8_t mask_;
    std::array<std::optional<AmplifierModule>, kModuleSlots> modules_;
    std::optional<std::array<std::uint32_t, 3>> reply_;
    std::int64_t readyAtUs_ = 0;
};

}  // namespace rovenza::sim
