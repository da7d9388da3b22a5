#pragma once
// Raw driver requests for tests of the simulated bench: each call is one
// DriverPort request with the input record built here, so the tests see the bench exactly as a
// driver client does, without the core's channel functions.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DriverPort.h"

namespace rovenza {

using RawBytes = std::vector<std::uint8_t>;

struct RawResult {
    bool ok = false;
    std::uint32_t error = 0;
    std::uint32_t returned = 0;
    RawBytes data;  // read: the bytes returned
};

class RawDriver {
public:
    explicit RawDriver(DriverPort& driver) : driver_(driver) {}

    // First-generation flags unless told otherwise. Returns kInvalidHandle on failure.
    Handle open(const std::string& path, std::uint32_t* error = nullptr, std::uint32_t access = kGenericWrite,
                std::uint32_t share = kFileShareWrite);
    RawResult write(Handle handle, const RawBytes& packet, std::uint32_t parameter = 1000);
    RawResult writeOnly(Handle handle, const RawBytes& packet);  // 4-byte input, no parameter
    RawResult read(Handle handle, std::uint32_t limit, std::uint32_t parameter = 1000);
    RawResult reset(Handle handle, std::uint32_t pipe = 0);
    // One write and, if it succeeded, one read.
    RawResult exchange(Handle handle, const RawBytes& packet, std::uint32_t limit, std::uint32_t readParameter = 1000);
    // Second generation: opened as its host does (read and write access, no sharing); one
    // write request carrying the frame and, if it succeeded, one read into 64 bytes.
    Handle open2(const std::string& path, std::uint32_t* error = nullptr) {
        return open(path, error, kGenericRead | kGenericWrite, 0);
    }
    RawResult exchange2(Handle handle, const RawBytes& frame, std::uint32_t parameter = 1000);
    // Any request with an input record of the caller's making.
    RawResult request(Handle handle, std::uint32_t code, const RawBytes& input, RawBytes buffer);
    void close(Handle handle) { driver_.close(handle); }

private:
    DriverPort& driver_;
};

RawBytes RawHeader(std::uint32_t pipe, std::uint32_t parameter);
// A 64-byte boot-loader packet: Cmd, Len, Address low, Address high, 0, then `data`, zero-filled.
RawBytes BootPacket(std::uint8_t cmd, std::uint8_t len, std::uint16_t address, const RawBytes& data = {});
// \\?\usb#vid_1234&pid_<pid lower case>#<serial>#{012ad3ce-...}
std::string FirstGenerationPath(std::string_view pid, std::string_view serial);
// \\?\usb#vid_1234&pid_0e10#<serial>#{9fc19cc8-...} (a Velkaro instrument)
std::string VelkaroPath(std::string_view serial);

}  // namespace rovenza
