#include "Context.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>

#include <string>
#endif

namespace rovenza {

namespace {

#if defined(_WIN32)
// The running executable's full name. The wide call, so that a folder whose name the system
// code page cannot spell is still found; the buffer grows until the name fits.
std::filesystem::path ExecutablePath(std::error_code&) {
    std::wstring buffer(260, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768) return {};  // longer than any path the system allows
        buffer.resize(buffer.size() * 2);
    }
}
#else
std::filesystem::path ExecutablePath(std::error_code& ec) {
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}
#endif

}  // namespace

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto exe = ExecutablePath(ec);
    if (ec || exe.empty()) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

}  // namespace rovenza
