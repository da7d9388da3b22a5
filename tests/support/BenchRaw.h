#pragma once
// Raw driver requests for tests of the simulated bench: each call is one
// DriverPort request with the input record built here, so the tests see the bench exactly as a
// driver client does, without the core's channel functions.
#include <array>
#include <cstdint>
#include <optional>
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
// \\?\usb#vid_1234&pid_0e11#<serial>#{9fc19cc8-...} (a Zenara instrument)
std::string ZenaraPath(std::string_view serial);

// The Zenara instrument's I2C bridge at 0x3F, word by word.
using RawWords = std::array<std::uint32_t, 3>;
// I2C_WRITE of the word frame (command, p1, p2): AD 3F 0C and the words, high byte first.
RawBytes I2cWordFrame(std::uint32_t command, std::uint32_t p1, std::uint32_t p2, std::uint8_t address = 0x3F);
// The three words of an I2C_POLL reply that reports ready, or nothing.
std::optional<RawWords> PollWords(const RawResult& poll);
// I2C_WRITE of the word frame, then up to `polls` I2C_POLL exchanges until one is ready.
std::optional<RawWords> I2cQuery(RawDriver& raw, Handle handle, std::uint32_t command, std::uint32_t p1,
                                 std::uint32_t p2, int polls = 4);
// A module command frame: A5, payload length + 1, code, payload, 5A.
RawBytes ModuleFrame(std::uint8_t code, const RawBytes& payload = {});
// A frame as words, four bytes each, high byte first, the last one zero-filled.
std::vector<std::uint32_t> FrameWords(const RawBytes& frame);
// Sends a module command word by word (word command 19); false if a word went unanswered.
bool SendModuleFrame(RawDriver& raw, Handle handle, std::uint32_t slot, std::uint8_t code, const RawBytes& payload = {});
// Reads the module's answer (word command 20) until a read brings fewer than 8 bytes; nothing
// if the bridge did not answer or reported more than 8.
std::optional<RawBytes> ReadModuleAnswer(RawDriver& raw, Handle handle, std::uint32_t slot);

}  // namespace rovenza
