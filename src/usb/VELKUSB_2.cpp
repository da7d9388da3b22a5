#include "VELKUSB_2.h"

#include <algorithm>

#include "VELKUSB_Const.h"
#include "VELKUSB_Enum.h"

namespace rovenza {

namespace {

std::uint32_t Exchange(const Context& ctx, Handle handle, const Bytes& frame, Bytes& reply) {
    return CommandExchange2(ctx, handle, frame, kDefaultParameter, reply);
}

std::uint32_t Send(const Context& ctx, Handle handle, const Bytes& frame) {
    Bytes reply;
    return Exchange(ctx, handle, frame, reply);
}

}  // namespace

void TDeviceList::Refresh(const Context& ctx, const InterfaceClassGuid& classGuid) {
    entries_.clear();
    std::vector<DeviceInterfaceEntry> members;
    if (!ctx.interfaces.enumerate(classGuid, members)) return;
    for (const auto& member : members) {
        if (member.detailError != 0) {
            ctx.op.showMessage("", DetailErrorText(member.detailError));
            entries_.push_back({"", member.name});
        } else {
            entries_.push_back({member.path, member.name});
        }
    }
}

std::uint32_t SET_MODE(const Context& ctx, Handle handle, std::uint8_t mode) {
    return Send(ctx, handle, SetModeFrame(mode));
}

std::uint32_t GET_STATUS(const Context& ctx, Handle handle, Gen2Status& status) {
    Bytes reply;
    if (const auto code = Exchange(ctx, handle, GetStatusFrame(), reply)) return code;
    return DecodeStatus(reply, status);
}

// The flash requests keep their frames and replies in place: a flash image is millions of them.
std::uint32_t FLASH_READ(const Context& ctx, Handle handle, std::uint32_t address, std::uint8_t count, Bytes& data) {
    std::uint8_t frame[5];
    std::array<std::uint8_t, kReply2Size> reply;
    std::uint32_t replyLength = 0;
    const std::size_t length = PutFlashReadFrame(frame, address, count);
    if (const auto code = CommandExchange2(ctx, handle, {frame, length}, kDefaultParameter, reply, replyLength))
        return code;
    const auto cut = CutReply({reply.data(), replyLength}, count);
    data.assign(cut.begin(), cut.end());
    return 0;
}

std::uint32_t FLASH_WRITE(const Context& ctx, Handle handle, std::uint32_t address, const Bytes& data) {
    if (data.size() > kFlashWriteLimit) return kErrorInvalidParameter;
    std::uint8_t frame[5 + kFlashWriteLimit];
    std::array<std::uint8_t, kReply2Size> reply;
    std::uint32_t replyLength = 0;
    const std::size_t length = PutFlashWriteFrame(frame, address, data.data(), data.size());
    if (const auto code = CommandExchange2(ctx, handle, {frame, length}, kDefaultParameter, reply, replyLength))
        return code;
    return CheckFlashWriteEcho({reply.data(), replyLength}, data.data(), data.size());
}

std::uint32_t FLASH_ERASE(const Context& ctx, Handle handle) { return Send(ctx, handle, FlashEraseFrame()); }

std::uint32_t MEM_READ(const Context& ctx, Handle handle, std::uint16_t address, std::size_t count, Bytes& data) {
    data.assign(count, 0);
    std::uint32_t result = 0;
    std::size_t position = 0;
    do {
        const auto chunk = static_cast<std::uint8_t>(std::min(kMemChunkLimit, count - position));
        Bytes reply;
        auto code = Exchange(ctx, handle, MemReadFrame(address, chunk), reply);
        if (code == 0) code = DecodeMemReadChunk(reply, data.data() + position, chunk);
        if (result == 0) result = code;
        position += chunk;
        address = static_cast<std::uint16_t>(address + chunk);
    } while (position < count);
    return result;
}

std::uint32_t MEM_WRITE(const Context& ctx, Handle handle, std::uint16_t address, const Bytes& data) {
    std::size_t position = 0;
    do {
        const auto chunk = static_cast<std::uint8_t>(std::min(kMemChunkLimit, data.size() - position));
        if (const auto code = Send(ctx, handle, MemWriteFrame(address, data.data() + position, chunk))) return code;
        position += chunk;
        address = static_cast<std::uint16_t>(address + chunk);
    } while (position < data.size());
    return 0;
}

std::uint32_t FPGA_POWER(const Context& ctx, Handle handle, bool on) { return Send(ctx, handle, FpgaPowerFrame(on)); }

std::uint32_t I2C_WRITE(const Context& ctx, Handle handle, std::uint8_t address, const WordFrame& data) {
    return Send(ctx, handle, I2cWriteFrame(address, data));
}

std::uint32_t I2C_START_READ(const Context& ctx, Handle handle, std::uint8_t address) {
    return Send(ctx, handle, I2cStartReadFrame(address));
}

std::uint32_t I2C_POLL(const Context& ctx, Handle handle, Bytes& reply) {
    return Exchange(ctx, handle, I2cPollFrame(), reply);
}

std::uint32_t I2cPoll(const Context& ctx, Handle handle, WordFrame& data, float limitSeconds) {
    const std::int64_t frequency = ctx.clock.frequency();
    const std::int64_t t0 = ctx.clock.counter();
    for (;;) {
        Bytes reply;
        if (const auto code = I2C_POLL(ctx, handle, reply)) return code;
        if (DecodeI2cPollReply(reply, data)) return 0;
        const double elapsed = static_cast<double>(ctx.clock.counter() - t0) / static_cast<double>(frequency);
        if (elapsed > limitSeconds) break;
    }
    ctx.debug.write("VKUSB: I2c timeout");
    return kErrorTimeout;
}

namespace {

// The word frame out, then the poll for its reply.
std::uint32_t WordExchange(const Context& ctx, Handle handle, const Words& request, float limitSeconds,
                           WordFrame& reply) {
    if (const auto code = I2C_WRITE(ctx, handle, kModuleBridgeAddress, PackWordFrame(request))) return code;
    return I2cPoll(ctx, handle, reply, limitSeconds);
}

}  // namespace

std::uint32_t I2cWriteWords(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                            std::uint32_t p2) {
    if (handle == kInvalidHandle) return kErrorInvalidHandle;
    if (const auto code = I2C_WRITE(ctx, handle, kModuleBridgeAddress, PackWordFrame({command, p1, p2}))) return code;
    WordFrame ignored{};
    I2cPoll(ctx, handle, ignored, kI2cPollLimitSeconds);
    return 0;
}

std::uint32_t I2cQueryWord(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                           std::uint32_t p2, float limitSeconds, std::uint32_t& w0) {
    w0 = 0;
    if (handle == kInvalidHandle) return kErrorInvalidHandle;
    WordFrame reply{};
    if (const auto code = WordExchange(ctx, handle, {command, p1, p2}, limitSeconds, reply)) return code;
    w0 = UnpackWordFrame(reply).w0;
    return 0;
}

std::uint32_t I2cQueryWords(const Context& ctx, Handle handle, std::uint32_t command, std::uint32_t p1,
                            std::uint32_t p2, Words& words) {
    words = {};
    if (handle == kInvalidHandle) return kErrorInvalidHandle;
    WordFrame reply{};
    if (const auto code = WordExchange(ctx, handle, {command, p1, p2}, kI2cPollLimitSeconds, reply)) return code;
    words = UnpackWordFrame(reply);
    return 0;
}

std::uint32_t WriteModuleWord(const Context& ctx, Handle handle, std::uint32_t slot, std::uint32_t word) {
    return I2cWriteWords(ctx, handle, static_cast<std::uint32_t>(ModuleWordCommand::WriteWord), slot, word);
}

std::uint32_t ReadModuleWords(const Context& ctx, Handle handle, std::uint32_t slot, Words& words) {
    const auto code =
        I2cQueryWords(ctx, handle, static_cast<std::uint32_t>(ModuleWordCommand::ReadWords), slot, 0xFFFFFFFFu, words);
    return words.w0 > 8 ? kReplyCheckFailed : code;
}

std::uint32_t ReadSerialBlock(const Context& ctx, Handle handle, SerialBlock& block) {
    Bytes data;
    if (const auto code = MEM_READ(ctx, handle, kSerialBlockAddress, kSerialBlockSize, data)) return code;
    std::copy(data.begin(), data.end(), block.begin());
    return 0;
}

}  // namespace rovenza
