#include "WorkFolder.h"

#include <algorithm>
#include <system_error>

namespace rovenza {

namespace {

constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower;
}

std::string PlainErrorText(const std::error_code& ec) {
    std::string text = ec.message();
    // Only a capital that starts an ordinary word: "Permission denied", not "EEPROM ...".
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z')
        text[0] = LowerAscii(text[0]);
    return text;
}

std::filesystem::file_status OwnStatus(const std::filesystem::path& folder) {
    // "Temp/" names what the link "Temp" leads to; "Temp" names the link.
    std::error_code ec;
    return std::filesystem::symlink_status(folder.has_filename() ? folder : folder.parent_path(), ec);
}

bool IsRealFolder(const std::filesystem::path& folder) { return std::filesystem::is_directory(OwnStatus(folder)); }

std::filesystem::path WorkFolderPath(const std::filesystem::path& programFolder) {
    return ProgramFolders(programFolder).work;
}

std::filesystem::path PackageFolderPath(const std::filesystem::path& programFolder) {
    return ProgramFolders(programFolder).packages;
}

void CreateProgramFolders(const ProgramFolders& folders) {
    std::error_code ec;
    std::filesystem::create_directories(folders.work, ec);
    std::filesystem::create_directories(folders.packages, ec);
}

std::string CanonicalPackageFileName(std::string_view name) {
    for (std::string_view known : kPackageFileNames) {
        if (EqualsIgnoreAsciiCase(name, known)) return std::string(known);
    }
    return std::string(name);
}

}  // namespace rovenza
