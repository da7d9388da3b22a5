#pragma once
// The command trace: one text line per request of the first-generation command exchange,
// naming the command, the time the request took and, for replies, the bytes received. The
// file is created anew on every first-generation open and closed on close. Off unless the
// operator names a trace file.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace rovenza {

// A trace file operation failed; it ends the driver operation that was tracing.
class ETraceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The name of a command code in the trace: the instrument's command name, or the code in
// decimal.
std::string CommandName(std::uint8_t code);

// Milliseconds between two counter readings, rounded to the nearest whole number with ties
// to the even neighbour.
std::int64_t ElapsedMilliseconds(std::int64_t before, std::int64_t after, std::int64_t frequency);

std::string WriteLine(std::uint8_t code, std::int64_t milliseconds);
std::string ReadLine(std::uint8_t code, std::int64_t milliseconds, std::uint32_t count);

class CommandTrace {
public:
    explicit CommandTrace(std::filesystem::path file);
    ~CommandTrace();
    CommandTrace(const CommandTrace&) = delete;
    CommandTrace& operator=(const CommandTrace&) = delete;

    const std::filesystem::path& file() const { return file_; }
    // Checks, before any instrument is touched, that the file can be written.
    // Throws ETraceError naming the file and the reason.
    void CheckWritable() const;

    void OnOpen();   // creates the file anew
    void Write(const std::string& line);
    void OnClose();  // closes the file

    // The first failure of the file, once one has happened; read it after the run.
    const std::optional<std::string>& failure() const { return failure_; }

private:
    [[noreturn]] void Fail(std::string_view what) const;

    std::filesystem::path file_;
    std::FILE* stream_ = nullptr;
    mutable std::optional<std::string> failure_;
};

}  // namespace rovenza
