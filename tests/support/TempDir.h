#pragma once
// A fresh, empty folder under the system's temporary folder for the lifetime of one object;
// the folder and everything in it is removed when the object goes (links are removed, never
// followed). Each object gets its own folder, so tests may run in parallel.
#include <filesystem>

namespace rovenza {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace rovenza
