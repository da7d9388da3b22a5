#pragma once
// The second-generation instruments: the list of attached devices, and the requests over an
// open handle. Every request is one frame and one reply through CommandExchange2; none raises,
// each returns a 32-bit code: 0, the exchange's system code, or kReplyCheckFailed for a reply
// that fails its check.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VELKUSB.h"
#include "platform/Context.h"
#include "protocols/Gen2Frames.h"

namespace rovenza {

struct TDeviceListEntry {
    std::string DevicePath;    // empty when the interface's detail could not be read
    std::string FriendlyName;  // friendly name, else description, else empty
};

// Every interface of one class, in the system's member order.
class TDeviceList {
public:
    // Drops the entries held, then lists the class anew. A member whose detail query fails is
    // reported to the operator ("Error " + code) and kept with an empty path; a failed class
    // query leaves the list empty.
    void Refresh(const Context& ctx, const InterfaceClassGuid& classGuid);
    std::size_t Count() const { return entries_.size(); }
    const TDeviceListEntry& Items(std::size_t index) const { return entries_.at(index); }

private:
    std::vector<TDeviceListEntry> entries_;
};

std::uint32_t SET_MODE(const Context& ctx, Handle handle, std::uint8_t mode);
// The record is filled only on success.
std::uint32_t GET_STATUS(const Context& ctx, Handle handle, Gen2Status& status);
// On success `data` is the reply cut to `count` bytes (shorter if the reply is); on failure
// it is left as it was.
std::uint32_t FLASH_READ(const Context& ctx, Handle handle, std::uint32_t address, std::uint8_t count, Bytes& data);
// At most kFlashWriteLimit bytes (more gives kErrorInvalidParameter, nothing sent); the reply
// must repeat them.
std::uint32_t FLASH_WRITE(const Context& ctx, Handle handle, std::uint32_t address, const Bytes& data);
std::uint32_t FLASH_ERASE(const Context& ctx, Handle handle);
// `data` becomes `count` bytes, read in chunks of up to 16 from `address` on (wrapping at
// 16 bits). Every chunk is sent; the first failing chunk's code is returned, and the bytes of
// failed or short chunks are 0.
std::uint32_t MEM_READ(const Context& ctx, Handle handle, std::uint16_t address, std::size_t count, Bytes& data);
// Chunks of up to 16 bytes from `address` on; stops at the first failing chunk with its code.
// Empty data still sends one frame.
std::uint32_t MEM_WRITE(const Context& ctx, Handle handle, std::uint16_t address, const Bytes& data);
std::uint32_t FPGA_POWER(const Context& ctx, Handle handle, bool on);

std::uint32_t I2C_WRITE(const Context& ctx, Handle handle, std::uint8_t address, const WordFrame& data);
std::uint32_t I2C_START_READ(const Context& ctx, Handle handle, std::uint8_t address);
// One poll request; `reply` is the reply as received.
std::uint32_t I2C_POLL(const Context& ctx, Handle handle, Bytes& reply);

// Polls the bridge back to back, with no pause, until a reply is ready (0, `data` filled) or
// more than `limitSeconds` have passed on the performance counter ("VKUSB: I2c timeout" on
// the debugger output, kErrorTimeout). A failed exchange is returned at once.
std::uint32_t I2cPoll(const Context& ctx, Handle handle, WordFrame& data, float limitSeconds);

// The word exchange with the amplifier modules' bridge (kModuleBridgeAddress). An invalid
// handle gives kErrorInvalidHandle before anything is sent.
inline constexpr float kI2cPollLimitSeconds = 0.5f;
// Writes the word frame and waits for its completion; the poll's outcome does not change the
// result, which is 0 unless the write fails.
std::uint32_t I2cWriteWords(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                            std::uint32_t p2);
// Writes the word frame and polls with `limitSeconds`; on success `w0` is reply word 0. On
// failure `w0` is 0.
std::uint32_t I2cQueryWord(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                           std::uint32_t p2, float limitSeconds, std::uint32_t& w0);
// As I2cQueryWord with the limit kI2cPollLimitSeconds and all three reply words (0 on failure).
std::uint32_t I2cQueryWords(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                            std::uint32_t p2, Words& reply);
// One word to the module in `slot` (word command 19).
std::uint32_t WriteModuleWord(const Context& ctx, Handle handle, std::uint32_t slot, std::uint32_t word);
// The module's next answer words (word command 20): w0 counts the valid bytes (at most 8) in
// w1 and w2. A w0 above 8 gives kReplyCheckFailed. A failed query leaves all three words 0.
std::uint32_t ReadModuleWords(const Context& ctx, Handle handle, std::uint32_t slot, Words& reply);

using SerialBlock = std::array<std::uint8_t, kSerialBlockSize>;
// The identity record; `block` is written only when the whole read succeeds.
std::uint32_t ReadSerialBlock(const Context& ctx, Handle handle, SerialBlock& block);

}  // namespace rovenza
