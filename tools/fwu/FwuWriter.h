#pragma once
// Writes FWU packages: zip archives holding a Bootload.ini manifest and image files.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace rovenza {

struct FwuMember {
    std::string name;   // stored as given (folders and odd names included)
    std::string bytes;
    bool compress = true;  // deflate, else stored
};

// Writes `members` in order to `out` (replacing it). Every member gets the same fixed time
// stamp, so equal input gives an equal file. Throws std::runtime_error.
void WriteFwu(const std::filesystem::path& out, const std::vector<FwuMember>& members);

// A Bootload.ini text: "[Info]\r\nDeviceType=N\r\n", then a [Settings] section with one
// "KEY=VALUE" line per setting when there are any.
std::string ManifestText(int deviceType, const std::vector<std::pair<std::string, std::string>>& settings = {});

}  // namespace rovenza
