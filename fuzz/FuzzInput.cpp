#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "TempDir.h"

namespace rovenza::fuzz {

const std::filesystem::path& Folder() {
    static const TempDir folder;
    return folder.path();
}

std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size, std::string_view name) {
    const std::filesystem::path path = Folder() / std::string(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) throw std::runtime_error("cannot write the fuzz input to " + path.string());
    return path;
}

void Fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace rovenza::fuzz
