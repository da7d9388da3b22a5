#pragma once
// The two folders a run uses outside its package: the work folder, into which packages are
// unpacked and from which the manifest and images are read, and the package folder, where the
// file dialog opens. Beside a program that may write its own folder both hang from that folder
// as "Temp" and "FWUs"; where they are for an installed program is decided by the front ends
// (frontend/FolderRule.h).
#include <filesystem>
#include <string_view>
#include <utility>

namespace rovenza {

inline constexpr std::string_view kWorkFolderName = "Temp";
inline constexpr std::string_view kPackageFolderName = "FWUs";

struct ProgramFolders {
    std::filesystem::path work;      // packages are unpacked here, the manifest and images read from here
    std::filesystem::path packages;  // where the file dialog opens; nothing else reads it

    ProgramFolders() = default;
    // Both in one program folder: programFolder / "Temp" and programFolder / "FWUs". Not explicit:
    // a program folder stands for its two folders wherever a context is built from one.
    ProgramFolders(const std::filesystem::path& programFolder)
        : work(programFolder / kWorkFolderName), packages(programFolder / kPackageFolderName) {}
    ProgramFolders(std::filesystem::path workFolder, std::filesystem::path packageFolder)
        : work(std::move(workFolder)), packages(std::move(packageFolder)) {}

    bool operator==(const ProgramFolders&) const = default;
};

}  // namespace rovenza
