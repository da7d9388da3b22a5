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

std::uint32_t FLASH_READ(const Context& ctx, Handle handle, std::uint32_t address, std::uint8_t count, Bytes& data) {
    Bytes reply;
    if (const auto code = Exchange(ctx, handle, FlashReadFrame(address, count), reply)) return code;
    data = CutReply(reply, count);
    return 0;
}

std::uint32_t FLASH_WRITE(const Context& ctx, Handle handle, std::uint32_t address, const Bytes& data) {
    if (data.size() > kFlashWriteLimit) return kErrorInvalidParameter;
    Bytes reply;
    if (const auto code = Exchange(ctx, handle, FlashWriteFrame(address, data.data(), data.size()), reply))
        return code;
    return CheckFlashWriteEcho(reply, data.data(), data.size());
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

std::uint32_t ReadSerialBlock(const Context& ctx, Handle handle, SerialBlock& block) {
    Bytes data;
    if (const auto code = MEM_READ(ctx, handle, kSerialBlockAddress, kSerialBlockSize, data)) return code;
    std::copy(data.begin(), data.end(), block.begin());
    return 0;
}

}  // namespace rovenza
