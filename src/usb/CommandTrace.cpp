#include "CommandTrace.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

namespace rovenza {

namespace {

constexpr std::array<std::pair<std::uint8_t, std::string_view>, 15> kCommandNames{{
    {0x0C, "SET_CONFIG"},
    {0x15, "GET_CONFIG"},
    {0x1F, "SET_CALIBRATION"},
    {0x28, "USB_MODE_OFF"},
    {0x29, "USB_MODE_ON"},
    {0x2A, "RESET_DEVICE"},
    {0x33, "SET_PLL"},
    {0x3D, "GET_PAGE"},
    {0x3E, "WRITE_PAGE"},
    {0x3F, "SECTOR_ERASE"},
    {0x46, "GET_SERIAL"},
    {0x47, "SET_SERIAL"},
    {0x50, "SET_TIME"},
    {0x51, "GET_TIME"},
    {0x5A, "CALIB1V"},
}};

}  // namespace

std::string CommandName(std::uint8_t code) {
    for (const auto& [value, name] : kCommandNames)
        if (value == code) return std::string(name);
    return std::to_string(code);
}

std::int64_t ElapsedMilliseconds(std::int64_t before, std::int64_t after, std::int64_t frequency) {
    if (frequency <= 0) return 0;
    const long double ms =
        static_cast<long double>(after - before) / static_cast<long double>(frequency) * 1000.0L;
    // Round to nearest, ties to even, whatever rounding mode the process runs in.
    const long double floor = std::floor(ms);
    const long double fraction = ms - floor;
    long double rounded = floor;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(floor, 2.0L) != 0.0L)) rounded = floor + 1.0L;
    return static_cast<std::int64_t>(rounded);
}

std::string WriteLine(std::uint8_t code, std::int64_t milliseconds) {
    return "WriteCmd: " + CommandName(code) + " ;t= " + std::to_string(milliseconds) + " ms";
}

std::string ReadLine(std::uint8_t code, std::int64_t milliseconds, std::uint32_t count) {
    return "ReadCmd " + CommandName(code) + " ;t= " + std::to_string(milliseconds) +
           " ms; Bytes read: " + std::to_string(count);
}

CommandTrace::CommandTrace(std::filesystem::path file) : file_(std::move(file)) {}

CommandTrace::~CommandTrace() {
    if (stream_) std::fclose(stream_);
}

void CommandTrace::Fail(std::string_view what) const {
    std::string system = std::strerror(errno);
    if (system.size() > 1 && std::isupper(static_cast<unsigned char>(system[0])) &&
        std::islower(static_cast<unsigned char>(system[1])))
        system[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(system[0])));
    std::string text = file_.string() + ": cannot " + std::string(what) + " the trace file: " + system;
    if (!failure_) failure_ = text;
    throw ETraceError(text);
}

void CommandTrace::CheckWritable() const {
    std::FILE* probe = std::fopen(file_.string().c_str(), "ab");
    if (!probe) Fail("write");
    std::fclose(probe);
}

void CommandTrace::OnOpen() {
    if (stream_) std::fclose(stream_);
    stream_ = std::fopen(file_.string().c_str(), "wb");
    if (!stream_) Fail("create");
}

void CommandTrace::Write(const std::string& line) {
    if (!stream_) {
        errno = EBADF;
        Fail("write");
    }
    const std::string text = line + "\r\n";
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size() || std::fflush(stream_) != 0)
        Fail("write");
}

void CommandTrace::OnClose() {
    if (!stream_) return;
    const int result = std::fclose(stream_);
    stream_ = nullptr;
    if (result != 0) Fail("close");
}

}  // namespace rovenza
