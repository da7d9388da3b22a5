#include "BenchRaw.h"

#include <algorithm>
#include <cctype>

#include "usb/VELKUSB_Const.h"

namespace rovenza {

RawBytes RawHeader(std::uint32_t pipe, std::uint32_t parameter) {
    RawBytes header(8);
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<std::uint8_t>(pipe >> (8 * i));
        header[4 + i] = static_cast<std::uint8_t>(parameter >> (8 * i));
    }
    return header;
}

Handle RawDriver::open(const std::string& path, std::uint32_t* error, std::uint32_t access, std::uint32_t share) {
    std::uint32_t code = 0;
    const Handle handle = driver_.open(path, access, share, code);
    if (error) *error = code;
    return handle;
}

RawResult RawDriver::request(Handle handle, std::uint32_t code, const RawBytes& input, RawBytes buffer) {
    RawResult result;
    result.ok = driver_.ioControl(handle, code, input.empty() ? nullptr : input.data(),
                                  static_cast<std::uint32_t>(input.size()), buffer.empty() ? nullptr : buffer.data(),
                                  static_cast<std::uint32_t>(buffer.size()), result.returned, result.error);
    if (result.ok && (code == kIoctlRead || code == kIoctlRead2)) {
        buffer.resize(std::min<std::size_t>(result.returned, buffer.size()));
        result.data = std::move(buffer);
    }
    return result;
}

RawResult RawDriver::write(Handle handle, const RawBytes& packet, std::uint32_t parameter) {
    return request(handle, kIoctlWrite, RawHeader(kPipeWrite, parameter), packet);
}

RawResult RawDriver::writeOnly(Handle handle, const RawBytes& packet) {
    return request(handle, kIoctlWrite, RawBytes{0, 0, 0, 0}, packet);
}

RawResult RawDriver::read(Handle handle, std::uint32_t limit, std::uint32_t parameter) {
    return request(handle, kIoctlRead, RawHeader(kPipeRead, parameter), RawBytes(limit, 0));
}

RawResult RawDriver::reset(Handle handle, std::uint32_t pipe) {
    return request(handle, kIoctlReset, RawBytes{static_cast<std::uint8_t>(pipe), 0, 0, 0}, {});
}

RawResult RawDriver::exchange(Handle handle, const RawBytes& packet, std::uint32_t limit, std::uint32_t readParameter) {
    RawResult written = write(handle, packet);
    if (!written.ok) return written;
    return read(handle, limit, readParameter);
}

RawResult RawDriver::exchange2(Handle handle, const RawBytes& frame, std::uint32_t parameter) {
    RawResult written = request(handle, kIoctlWrite2, RawHeader(kPipeWrite, parameter), frame);
    if (!written.ok) return written;
    return request(handle, kIoctlRead2, RawHeader(kPipeRead, parameter), RawBytes(64, 0));
}

RawBytes BootPacket(std::uint8_t cmd, std::uint8_t len, std::uint16_t address, const RawBytes& data) {
    RawBytes packet(64, 0);
    packet[0] = cmd;
    packet[1] = len;
    packet[2] = static_cast<std::uint8_t>(address & 0xFF);
    packet[3] = static_cast<std::uint8_t>(address >> 8);
    for (std::size_t i = 0; i < data.size() && 5 + i < packet.size(); ++i) packet[5 + i] = data[i];
    return packet;
}

std::string FirstGenerationPath(std::string_view pid, std::string_view serial) {
    std::string lower(pid);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "\\\\?\\usb#vid_1234&pid_" + lower + "#" + std::string(serial) + "#{012ad3ce-c19e-485c-9cc0-3935f972bd45}";
}

std::string VelkaroPath(std::string_view serial) {
    return "\\\\?\\usb#vid_1234&pid_0e10#" + std::string(serial) + "#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";
}

std::string ZenaraPath(std::string_view serial) {
    return "\\\\?\\usb#vid_1234&pid_0e11#" + std::string(serial) + "#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";
}

namespace {

void PutWord(RawBytes& bytes, std::uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
}

std::uint32_t WordAt(const RawBytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

}  // namespace

RawBytes I2cWordFrame(std::uint32_t command, std::uint32_t p1, std::uint32_t p2, std::uint8_t address) {
    RawBytes frame{0xAD, address, 12};
    for (const std::uint32_t word : {command, p1, p2}) PutWord(frame, word);
    return frame;
}

std::optional<RawWords> PollWords(const RawResult& poll) {
    if (!poll.ok || poll.data.size() < 13 || poll.data[0] == 0) return std::nullopt;
    return RawWords{WordAt(poll.data, 1), WordAt(poll.data, 5), WordAt(poll.data, 9)};
}

std::optional<RawWords> I2cQuery(RawDriver& raw, Handle handle, std::uint32_t command, std::uint32_t p1,
                                 std::uint32_t p2, int polls) {
    if (!raw.exchange2(handle, I2cWordFrame(command, p1, p2)).ok) return std::nullopt;
    for (int i = 0; i < polls; ++i)
        if (auto words = PollWords(raw.exchange2(handle, {0xB1}))) return words;
    return std::nullopt;
}

RawBytes ModuleFrame(std::uint8_t code, const RawBytes& payload) {
    RawBytes frame;
    frame.reserve(payload.size() + 4);
    for (const std::uint8_t byte : {std::uint8_t{0xA5}, static_cast<std::uint8_t>(payload.size() + 1), code})
        frame.push_back(byte);
    for (const std::uint8_t byte : payload) frame.push_back(byte);
    frame.push_back(0x5A);
    return frame;
}

std::vector<std::uint32_t> FrameWords(const RawBytes& frame) {
    RawBytes padded = frame;
    padded.resize((frame.size() + 3) / 4 * 4, 0);
    std::vector<std::uint32_t> words;
    for (std::size_t at = 0; at < padded.size(); at += 4) words.push_back(WordAt(padded, at));
    return words;
}

bool SendModuleFrame(RawDriver& raw, Handle handle, std::uint32_t slot, std::uint8_t code, const RawBytes& payload) {
    for (const std::uint32_t word : FrameWords(ModuleFrame(code, payload)))
        if (!I2cQuery(raw, handle, 19, slot, word)) return false;
    return true;
}

std::optional<RawBytes> ReadModuleAnswer(RawDriver& raw, Handle handle, std::uint32_t slot) {
    RawBytes answer;
    for (;;) {
        const auto words = I2cQuery(raw, handle, 20, slot, 0xFFFFFFFF);
        if (!words || (*words)[0] > 8) return std::nullopt;
        RawBytes bytes;
        PutWord(bytes, (*words)[1]);
        PutWord(bytes, (*words)[2]);
        answer.insert(answer.end(), bytes.begin(), bytes.begin() + (*words)[0]);
        if ((*words)[0] < 8) return answer;
    }
}

}  // namespace rovenza
