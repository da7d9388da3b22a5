#include "VELKUSB_Enum.h"

#include "VELKUSB_Const.h"

namespace rovenza {

namespace {

enum class Report { MessageBox, DebugOutput };

// The interface walk over the first-generation class, keeping the paths whose identifier
// equals `wanted`.
void CollectByPid(const Context& ctx, const std::string& wanted, Report report, std::vector<std::string>& paths) {
    std::vector<DeviceInterfaceEntry> entries;
    if (!ctx.interfaces.enumerate(kFirstGenerationClass, entries)) return;
    for (const auto& entry : entries) {
        if (entry.detailError != 0) {
            const std::string text = DetailErrorText(entry.detailError);
            if (report == Report::MessageBox)
                ctx.op.showMessage("", text);
            else
                ctx.debug.write(text);
            continue;  // its path is empty and carries no identifier
        }
        std::string pid;
        if (ExtractPid(entry.path, pid) && pid == wanted) paths.push_back(entry.path);
    }
}

}  // namespace

std::string DetailErrorText(std::uint32_t code) { return "Error " + std::to_string(code); }

std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool ExtractPid(const std::string& path, std::string& pid) {
    const std::string upper = AsciiUpper(path);
    const auto start = upper.find("PID_");
    if (start == std::string::npos) return false;
    const std::string rest = upper.substr(start + 4);
    const auto hash = rest.find('#');
    if (hash == std::string::npos) return false;
    pid = rest.substr(0, hash);
    return true;
}

std::string ExtractSerial(const std::string& path) {
    const auto first = path.find('#');
    if (first == std::string::npos) return {};
    const auto second = path.find('#', first + 1);
    if (second == std::string::npos) return {};
    const auto third = path.find('#', second + 1);
    if (third == std::string::npos) return {};
    return path.substr(second + 1, third - second - 1);
}

FirstGenerationListing ListFirstGeneration(const Context& ctx) {
    FirstGenerationListing listing;
    std::vector<DeviceInterfaceEntry> entries;
    if (!ctx.interfaces.enumerate(kFirstGenerationClass, entries)) return listing;
    for (const auto& entry : entries) {
        if (entry.detailError != 0 || entry.path.empty())
            ++listing.unreadable;
        else
            listing.paths.push_back(entry.path);
    }
    return listing;
}

std::vector<std::string> FirstGenerationListing::withPid(std::string_view pid) const {
    std::vector<std::string> found;
    std::string id;
    for (const auto& path : paths)
        if (ExtractPid(path, id) && id == pid) found.push_back(path);
    return found;
}

bool FirstGenerationListing::contains(const std::string& path) const { return ContainsPath(paths, path); }

bool ContainsPath(const std::vector<std::string>& paths, const std::string& path) {
    const std::string wanted = AsciiUpper(path);
    for (const auto& listed : paths)
        if (AsciiUpper(listed) == wanted) return true;
    return false;
}

void FindDevicePaths(const Context& ctx, std::vector<std::string>& paths) {
    CollectByPid(ctx, std::string(kPidBootLoader), Report::MessageBox, paths);
}

void FindDevicePathsByPid(const Context& ctx, std::string_view pid, std::vector<std::string>& paths) {
    CollectByPid(ctx, AsciiUpper(pid), Report::DebugOutput, paths);
}

}  // namespace rovenza
