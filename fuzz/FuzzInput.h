#pragma once
// What the fuzz targets share: a temporary folder of this process (removed when the process
// ends normally), the input written to a file in it for the readers that take files, a
// debugger output that counts its lines, and the check that stops the run when an invariant
// fails (libFuzzer then keeps the input).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/DebugOutput.h"

namespace rovenza::fuzz {

// This process's own folder under the system's temporary folder, made at first use.
const std::filesystem::path& Folder();

// Writes the `size` bytes at `data` to Folder() / `name`, replacing the file; returns its path.
std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size, std::string_view name);

class CountingDebug final : public DebugOutput {
public:
    void write(const std::string&) override { ++lines; }
    int lines = 0;
};

[[noreturn]] void Fail(const char* file, int line, const char* condition);

}  // namespace rovenza::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::rovenza::fuzz::Fail(__FILE__, __LINE__, #condition))
