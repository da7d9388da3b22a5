#include "FolderRule.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/Context.h"

namespace rovenza {

namespace {

// A variable that names an absolute folder; anything else is ignored, as XDG asks for.
std::optional<std::filesystem::path> AbsoluteVariable(const EnvironmentLookup& environment, const char* name) {
    std::optional<std::filesystem::path> value = environment(name);
    if (!value || value->empty() || !value->is_absolute()) return std::nullopt;
    return value;
}

std::optional<ProgramFolders> PerUserFolders(const FolderRuleInputs& in) {
    if (in.convention == FolderConvention::Windows) {
        const auto local = AbsoluteVariable(in.environment, "LOCALAPPDATA");
        if (!local) return std::nullopt;
        return ProgramFolders(*local / "Rovenza");
    }
    const auto home = AbsoluteVariable(in.environment, "HOME");
    auto cache = AbsoluteVariable(in.environment, "XDG_CACHE_HOME");
    auto data = AbsoluteVariable(in.environment, "XDG_DATA_HOME");
    if (!cache && home) cache = *home / ".cache";
    if (!data && home) data = *home / ".local" / "share";
    if (!cache || !data) return std::nullopt;
    return ProgramFolders(*cache / "rovenza" / kWorkFolderName, *data / "rovenza" / kPackageFolderName);
}

// The bin folder of an installation: /usr/bin, /usr/local/bin, ~/.local/bin, PREFIX/bin.
bool IsInstalledBinFolder(const std::filesystem::path& folder) {
    const std::filesystem::path name = folder.has_filename() ? folder.filename() : folder.parent_path().filename();
    return name == "bin";
}

}  // namespace

ProgramFolders ChooseProgramFolders(const FolderRuleInputs& in) {
    if (!in.programFolderOption.empty()) return ProgramFolders(in.programFolderOption);
    if (!IsInstalledBinFolder(in.executableFolder) && in.writable(in.executableFolder))
        return ProgramFolders(in.executableFolder);
    if (auto perUser = PerUserFolders(in)) return *perUser;
    return ProgramFolders(in.executableFolder);
}

ProgramFolders ChooseProgramFolders(const std::filesystem::path& programFolderOption) {
    return ChooseProgramFolders(FolderRuleInputs{programFolderOption, ExecutableFolder(), ProcessEnvironment,
                                                 CanWriteInFolder, kHostFolderConvention});
}

bool CanWriteInFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return false;
    // A name no other run uses at the same time: the time and a per-process counter.
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path probe =
        folder / (".rovenza-probe-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    const bool created = std::filesystem::create_directory(probe, ec);
    if (ec) return false;
    if (created) std::filesystem::remove(probe, ec);
    return true;
}

std::optional<std::filesystem::path> ProcessEnvironment(const char* name) {
#if defined(_WIN32)
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wideName.c_str());
#else
    const char* value = std::getenv(name);
#endif
    if (!value) return std::nullopt;
    return std::filesystem::path(value);
}

}  // namespace rovenza
