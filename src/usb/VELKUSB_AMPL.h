#pragma once
// Commands to the amplifier modules of a Zenara instrument, through its I2C bridge: one
// command frame out word by word, the module's acknowledgement or answer back, and one
// retransmission (after a 20 ms pause, with the wait doubled and at least 20 ms) when the
// first attempt fails in a way that may pass. Retransmissions and their failures are written
// to the debugger output. The frames and checks are in protocols/VELKUSB_ADC.h.
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "VELKUSB_2.h"
#include "protocols/VELKUSB_ADC.h"

namespace rovenza {

// A programming error caught by a check in the channel; the debugger has had the line
// "Assertion failure (<unit>, line <n>)".
class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Sends the command and, unless `noAnswer`, reads the acknowledgement: 0, kModuleRefused (a
// non-zero status), kModuleNotAcknowledged, or a transport code. A payload over
// kModuleCommandPayloadLimit raises EAssertionFailed before anything is sent.
std::uint32_t VELKUSB_AMPL_SendCmd(const Context& ctx, Handle handle, std::uint8_t slot, std::uint8_t code,
                                   const Bytes& payload, std::uint32_t waitMs, bool noAnswer);

// Sends the command and reads the module's answer frame: 0 or kModuleStatusBusy with `answer`
// holding the frame's payload, kModuleNoAnswer, or a transport code.
std::uint32_t VELKUSB_AMPL_SendReadCmd(const Context& ctx, Handle handle, std::uint8_t slot, std::uint8_t code,
                                       Bytes& answer, const Bytes& payload, std::uint32_t waitMs);

// Asks the instrument for its module slot mask; when it reads 0 or all ones, widens it one
// slot at a time (0x01, 0x03, ... for `count` slots) with a pause after each write. Returns
// the first failing code (callers do not look at it).
std::uint32_t EnableModuleSlots(const Context& ctx, Handle handle, int count);

}  // namespace rovenza
