#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace rovenza {

namespace fs = std::filesystem;

namespace {

std::uint64_t NextSeed() {
    static std::atomic<std::uint64_t> counter{0};
    std::random_device rd;
    const auto now = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    return (static_cast<std::uint64_t>(rd()) << 32) ^ now ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
}

// Gives the owner full rights on everything below `root` (not following links), so that a test
// that made something read-only does not leave it behind.
void MakeRemovable(const fs::path& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec)) continue;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        ec.clear();
    }
}

}  // namespace

TempDir::TempDir() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) throw std::runtime_error("TempDir: no temporary folder: " + ec.message());
    std::mt19937_64 gen(NextSeed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("rovenza-test-" + std::to_string(gen() & 0xFFFFFFFFFFFFull));
        if (fs::create_directory(candidate, ec) && !ec) {
            path_ = candidate;
            return;
        }
        if (ec && ec != std::errc::file_exists) break;
        ec.clear();
    }
    throw std::runtime_error("TempDir: cannot create a folder under " + base.string() +
                             (ec ? ": " + ec.message() : std::string{}));
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (ec) {
        MakeRemovable(path_);
        fs::remove_all(path_, ec);
    }
}

}  // namespace rovenza
