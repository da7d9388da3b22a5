#pragma once
// The amplifier module command channel: the byte frame of a command to a module, its packing
// into the 32-bit words the I2C bridge carries, and the checks on what the module sends back.
//
// Command frame: 0xA5, L = payload length + 1, command code, payload, 0x5A.
// Answer frame:  0xA5, L, status, L - 1 payload bytes, and at least one byte more.
// The exchange itself (with its single retransmission) is in usb/VELKUSB_AMPL.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocols/Gen2Frames.h"

namespace rovenza {

inline constexpr std::uint8_t kModuleFrameStart = 0xA5;
inline constexpr std::uint8_t kModuleFrameEnd = 0x5A;

// The longest payload VELKUSB_AMPL_SendCmd takes.
inline constexpr std::size_t kModuleCommandPayloadLimit = 28;

// Results of the channel besides 0 and the transport's codes.
inline constexpr std::uint32_t kModuleRefused = 1;             // acknowledgement with a non-zero status
inline constexpr std::uint32_t kModuleStatusBusy = 9;          // answer status 9 (payload still returned)
inline constexpr std::uint32_t kModuleNotAcknowledged = 29;    // acknowledgement without 0xA5
inline constexpr std::uint32_t kModuleNoAnswer = kReplyCheckFailed;

// Answer reads per attempt; a module still sending full words after that is given up on.
inline constexpr int kModuleAnswerReadLimit = 64;

// The retransmission: a pause first, then the wait doubled with a floor.
inline constexpr std::uint32_t kRetransmitPauseMs = 20;
inline constexpr std::uint32_t kRetransmitWaitFloorMs = 20;
constexpr std::uint32_t RetransmitWait(std::uint32_t waitMs) {
    return 2 * waitMs > kRetransmitWaitFloorMs ? 2 * waitMs : kRetransmitWaitFloorMs;
}

// The slot mask is widened one slot at a time, with this pause after each write.
inline constexpr std::uint32_t kSlotMaskPauseMs = 200;

std::vector<std::uint8_t> ModuleCommandFrame(std::uint8_t code, const std::vector<std::uint8_t>& payload);
// The frame four bytes to a word, first byte in bits 31-24, the last word padded with zeros.
std::vector<std::uint32_t> ModuleCommandWords(std::uint8_t code, const std::vector<std::uint8_t>& payload);

// The valid bytes of one answer read: the first `count` (at most 8) of w1 then w2, each most
// significant byte first.
std::vector<std::uint8_t> ModuleAnswerBytes(const Words& read);

// What one attempt's answer means: its result, and whether a retransmission may follow.
struct ModuleCheck {
    std::uint32_t result = 0;
    bool retry = false;
    friend bool operator==(const ModuleCheck&, const ModuleCheck&) = default;
};

// The acknowledgement of VELKUSB_AMPL_SendCmd from the first answer read. Fewer than 3 valid
// bytes, or a first byte other than 0xA5: kModuleNotAcknowledged, retried. A non-zero status:
// kModuleRefused, not retried.
ModuleCheck CheckAcknowledgement(const Words& read);

// The answer of VELKUSB_AMPL_SendReadCmd from all the bytes collected. `payload` is set when
// the result is 0 or kModuleStatusBusy. No 0xA5 at all: kModuleNoAnswer, retried. A frame
// from its 0xA5 with a status other than 0 and 9, a length byte 0, or cut short:
// kModuleNoAnswer, not retried. Status 9: kModuleStatusBusy, retried.
ModuleCheck ParseModuleAnswer(const std::vector<std::uint8_t>& collected, std::vector<std::uint8_t>& payload);

// Debugger lines; the command code in uppercase hexadecimal without leading zeros.
enum class ModuleCall { SendCmd, SendReadCmd };
std::string RetransmitLine(ModuleCall call, std::uint8_t code);
std::string ModuleErrorLine(ModuleCall call, std::uint8_t code);
// The read command whose retransmission is not announced.
inline constexpr std::uint8_t kQuietRetransmitCode = 0xA3;

}  // namespace rovenza
