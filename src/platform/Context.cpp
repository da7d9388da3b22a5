#include "Context.h"

#include <system_error>

namespace rovenza {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
#if defined(_WIN32)
    // The Win32 backend supplies its own (GetModuleFileNameA).
    auto exe = std::filesystem::path{};
#else
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
#endif
    if (ec || exe.empty()) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

}  // namespace rovenza
