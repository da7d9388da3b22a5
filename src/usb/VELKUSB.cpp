#include "VELKUSB.h"

#include <algorithm>
#include <array>

#include "CommandTrace.h"
#include "VELKUSB_Const.h"

namespace rovenza {

namespace {

// A failed request whose system code is 0 still has to read as a failure.
std::uint32_t FailureCode(std::uint32_t error) { return error == 0 ? 1 : error; }

void PutLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 8-byte input record of a read or write request.
std::array<std::uint8_t, 8> HeaderRecord(const RequestHeader& header) {
    std::array<std::uint8_t, 8> record;
    PutLe32(record.data(), header.Pipe);
    PutLe32(record.data() + 4, header.Parameter);
    return record;
}

}  // namespace

Bytes EncodeRequestHeader(const RequestHeader& header) {
    const auto record = HeaderRecord(header);
    return Bytes(record.begin(), record.end());
}

// Byte 3 of a command or reply names it in the trace; a buffer too short to have one gives 0.
static std::uint8_t TraceCode(const std::uint8_t* bytes, std::uint32_t length) { return length > 3 ? bytes[3] : 0; }

std::uint32_t OpenChannel(const Context& ctx, const std::string& path, Handle& handle) {
    std::uint32_t error = 0;
    handle = ctx.driver.open(path, kGenericWrite, kFileShareWrite, error);
    if (ctx.trace) {
        try {
            ctx.trace->OnOpen();
        } catch (...) {
            if (handle != kInvalidHandle) ctx.driver.close(handle);
            handle = kInvalidHandle;
            throw;
        }
    }
    return handle == kInvalidHandle ? FailureCode(error) : 0;
}

void CloseChannel(const Context& ctx, Handle handle) {
    if (handle != kInvalidHandle) ctx.driver.close(handle);
    if (ctx.trace) ctx.trace->OnClose();
}

std::uint32_t CommandExchange(const Context& ctx, Handle handle, const std::uint8_t* command,
                              std::uint32_t commandLength, std::uint32_t writeParameter,
                              std::uint32_t readParameter, std::uint8_t* reply, std::uint32_t& replyLimit) {
    std::uint32_t returned = 0;
    std::uint32_t error = 0;
    // The trace times each request; untraced, the clock is not read.
    const auto now = [&] { return ctx.trace ? ctx.clock.counter() : 0; };
    const std::int64_t frequency = ctx.trace ? ctx.clock.frequency() : 0;
    const auto writeHeader = HeaderRecord({kPipeWrite, writeParameter});
    std::int64_t t0 = now();
    // The driver carries the output buffer of a METHOD_IN_DIRECT request to the instrument.
    const bool written = ctx.driver.ioControl(handle, kIoctlWrite, writeHeader.data(), 8,
                                              const_cast<std::uint8_t*>(command), commandLength, returned, error);
    std::int64_t t1 = now();
    if (ctx.trace)
        ctx.trace->Write(WriteLine(TraceCode(command, commandLength), ElapsedMilliseconds(t0, t1, frequency)));
    if (!written) return FailureCode(error);

    const auto readHeader = HeaderRecord({kPipeRead, readParameter});
    const std::uint32_t bufferSize = replyLimit;
    returned = 0;
    error = 0;
    t0 = now();
    const bool read = ctx.driver.ioControl(handle, kIoctlRead, readHeader.data(), 8, reply, replyLimit, returned, error);
    t1 = now();
    if (ctx.trace)
        ctx.trace->Write(ReadLine(TraceCode(reply, bufferSize), ElapsedMilliseconds(t0, t1, frequency), returned));
    if (!read) return FailureCode(error);
    replyLimit = std::min(returned, replyLimit);
    return 0;
}

std::uint32_t WriteOnly(const Context& ctx, Handle handle, const std::uint8_t* data, std::uint32_t length) {
    std::uint8_t pipe[4];
    PutLe32(pipe, kPipeWrite);
    std::uint32_t returned = 0;
    std::uint32_t error = 0;
    if (!ctx.driver.ioControl(handle, kIoctlWrite, pipe, 4, const_cast<std::uint8_t*>(data), length, returned, error))
        return FailureCode(error);
    return 0;
}

std::uint32_t ResetPipe(const Context& ctx, Handle handle, std::uint32_t pipeNumber) {
    std::uint8_t pipe[4];
    PutLe32(pipe, pipeNumber);
    std::uint32_t returned = 0;
    std::uint32_t error = 0;
    if (!ctx.driver.ioControl(handle, kIoctlReset, pipe, 4, nullptr, 0, returned, error)) return FailureCode(error);
    return 0;
}

std::uint32_t OpenChannel2(const Context& ctx, const std::string& path, Handle& handle) {
    std::uint32_t error = 0;
    handle = ctx.driver.open(path, kGenericRead | kGenericWrite, 0, error);
    return handle == kInvalidHandle ? FailureCode(error) : 0;
}

void CloseChannel2(const Context& ctx, Handle& handle) {
    if (handle == kInvalidHandle) return;
    ctx.driver.close(handle);
    handle = kInvalidHandle;
}

std::uint32_t CommandExchange2(const Context& ctx, Handle handle, std::span<const std::uint8_t> command,
                               std::uint32_t parameter, std::array<std::uint8_t, kReply2Size>& reply,
                               std::uint32_t& replyLength) {
    replyLength = 0;
    if (handle == kInvalidHandle) return kErrorInvalidHandle;
    std::uint32_t returned = 0;
    std::uint32_t error = 0;
    const auto writeHeader = HeaderRecord({kPipeWrite, parameter});
    if (!ctx.driver.ioControl(handle, kIoctlWrite2, writeHeader.data(), 8, const_cast<std::uint8_t*>(command.data()),
                              static_cast<std::uint32_t>(command.size()), returned, error))
        return FailureCode(error);

    reply.fill(0);
    const auto readHeader = HeaderRecord({kPipeRead, parameter});
    returned = 0;
    error = 0;
    if (!ctx.driver.ioControl(handle, kIoctlRead2, readHeader.data(), 8, reply.data(), kReply2Size, returned, error))
        return FailureCode(error);
    replyLength = std::min(returned, kReply2Size);
    return 0;
}

std::uint32_t CommandExchange2(const Context& ctx, Handle handle, const Bytes& command, std::uint32_t parameter,
                               Bytes& reply) {
    reply.clear();
    std::array<std::uint8_t, kReply2Size> buffer;
    std::uint32_t length = 0;
    if (const auto code = CommandExchange2(ctx, handle, command, parameter, buffer, length)) return code;
    reply.assign(buffer.begin(), buffer.begin() + length);
    return 0;
}

}  // namespace rovenza
