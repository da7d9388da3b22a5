#pragma once
// Driver channels: the requests of both driver generations and the command exchange built on
// them. Nothing here raises for a driver or device failure; every operation returns the
// system error code (0 for success).
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Context.h"

namespace rovenza {

using Bytes = std::vector<std::uint8_t>;

// Input record of write and read requests, 8 bytes little-endian.
struct RequestHeader {
    std::uint32_t Pipe;
    std::uint32_t Parameter;
};
Bytes EncodeRequestHeader(const RequestHeader& header);

// First generation.
std::uint32_t OpenChannel(const Context& ctx, const std::string& path, Handle& handle);
void CloseChannel(const Context& ctx, Handle handle);
// One command, one reply. On success `replyLimit` becomes the byte count received.
std::uint32_t CommandExchange(const Context& ctx, Handle handle, const std::uint8_t* command,
                              std::uint32_t commandLength, std::uint32_t writeParameter,
                              std::uint32_t readParameter, std::uint8_t* reply, std::uint32_t& replyLimit);
std::uint32_t WriteOnly(const Context& ctx, Handle handle, const std::uint8_t* data, std::uint32_t length);
std::uint32_t ResetPipe(const Context& ctx, Handle handle, std::uint32_t pipe);

// Second generation.
std::uint32_t OpenChannel2(const Context& ctx, const std::string& path, Handle& handle);
void CloseChannel2(const Context& ctx, Handle& handle);
std::uint32_t CommandExchange2(const Context& ctx, Handle handle, const Bytes& command,
                               std::uint32_t parameter, Bytes& reply);
// The same on buffers, for requests repeated a great many times: the reply's bytes go to
// `reply` and their count to `replyLength` (0 when the exchange fails).
inline constexpr std::uint32_t kReply2Size = 64;
std::uint32_t CommandExchange2(const Context& ctx, Handle handle, std::span<const std::uint8_t> command,
                               std::uint32_t parameter, std::array<std::uint8_t, kReply2Size>& reply,
                               std::uint32_t& replyLength);

}  // namespace rovenza
