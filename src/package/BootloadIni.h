#pragma once
// The manifest reader: a plain initialisation-file reader with the value rules of
// Bootload.ini, independent of any operating-system reader so that every build reads a
// manifest the same way.
//
// Format: "[Section]" lines open a section; "key=value" lines inside a section give values.
// Section and key names compare without regard to ASCII case; names and values are trimmed of
// blanks and tabs; a value is cut to 2047 characters. Lines starting with ';' and lines without
// '=' are ignored, as are keys before the first section. Only the first section of a name is
// searched, and the first occurrence of a key in it wins. Lines end with CR LF or LF. A file that
// is not a regular file, or is larger than kIniMaxFileSize, is not read (as a missing one).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace rovenza {

inline constexpr std::size_t kIniMaxValueLength = 2047;
// A manifest is a few lines; anything this large is no manifest.
inline constexpr std::uint64_t kIniMaxFileSize = 1024 * 1024;

class TIniFile {
public:
    explicit TIniFile(std::filesystem::path fileName);

    const std::filesystem::path& FileName() const { return fileName_; }

    // Each read opens the file afresh; a missing, unreadable or oversized file, a missing
    // section or key gives the default.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // The value read by ParseIniInteger, or the default when it is not an integer.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;
    // An integer read with default 0 or 1: 0 is false, every other integer true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

private:
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    std::filesystem::path fileName_;
};

// A manifest integer: optionally signed decimal within the signed 32-bit range; or hexadecimal
// after "0x"/"0X" (value of three or more characters) or "$", with at most 8 significant
// digits, read as a 32-bit pattern ("$FFFFFFFF" is -1). Anything else gives nothing.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

}  // namespace rovenza
