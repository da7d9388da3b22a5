#pragma once
// Where a run's work folder and package folder are, for both front ends.
//
//  1. --program-folder DIR: DIR/Temp and DIR/FWUs.
//  2. Otherwise beside the program, its folder's Temp and FWUs, when that folder is the program's
//     own: one it may write that is not the bin folder of an installation (PREFIX/bin; root may
//     write /usr/bin, but nothing of a run belongs there). A build folder and an unpacked
//     Windows archive are used this way.
//  3. Otherwise per-user folders:
//       XDG      the work folder $XDG_CACHE_HOME/rovenza/Temp (~/.cache/rovenza/Temp),
//                the packages   $XDG_DATA_HOME/rovenza/FWUs   (~/.local/share/rovenza/FWUs);
//       Windows  %LOCALAPPDATA%\Rovenza\Temp and %LOCALAPPDATA%\Rovenza\FWUs.
//     A variable that is unset, empty or not an absolute path counts as missing; with nothing
//     to go by (no HOME, no LOCALAPPDATA) the program's folder is used after all.
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/ProgramFolders.h"

namespace rovenza {

enum class FolderConvention { Xdg, Windows };

// The convention of the system the program was built for.
#if defined(_WIN32)
inline constexpr FolderConvention kHostFolderConvention = FolderConvention::Windows;
#else
inline constexpr FolderConvention kHostFolderConvention = FolderConvention::Xdg;
#endif

// An environment variable's value; nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::filesystem::path>(const char* name)>;
// Whether the program may create files in a folder.
using WritableProbe = std::function<bool(const std::filesystem::path& folder)>;

struct FolderRuleInputs {
    std::filesystem::path programFolderOption;  // --program-folder DIR; empty when not given
    std::filesystem::path executableFolder;
    EnvironmentLookup environment;
    WritableProbe writable;
    FolderConvention convention = kHostFolderConvention;
};

ProgramFolders ChooseProgramFolders(const FolderRuleInputs& inputs);

// The rule over this process: its executable's folder, its environment, the real file system.
ProgramFolders ChooseProgramFolders(const std::filesystem::path& programFolderOption);

// Whether a folder can be written: a scratch folder can be created in it (and is removed).
bool CanWriteInFolder(const std::filesystem::path& folder);

// The process's environment (on Windows read as wide text, so any user name is spelled right).
std::optional<std::filesystem::path> ProcessEnvironment(const char* name);

}  // namespace rovenza
