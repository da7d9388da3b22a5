#include "BootloadIni.h"

#include <fstream>
#include <limits>
#include <system_error>
#include <utility>

#include "WorkFolder.h"

namespace rovenza {

namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> ParseHex(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint32_t value = 0;
    int significant = 0;
    for (char c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0) return std::nullopt;
        if (significant == 0 && d == 0) continue;  // leading zeros
        if (++significant > 8) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate as a magnitude up to 2^31, which the negative side still holds.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// The section name of a "[name]" line (up to the first ']' or the line's end), or nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    const auto close = line.find(']');
    if (close != std::string_view::npos) line = line.substr(0, close);
    return Trim(line);
}

}  // namespace

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return ParseHex(text.substr(2));
    if (!text.empty() && text.front() == '$') return ParseHex(text.substr(1));
    return ParseDecimal(text);
}

TIniFile::TIniFile(std::filesystem::path fileName) : fileName_(std::move(fileName)) {}

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
    // Measured before it is opened: only a regular file has a size, and opening a FIFO would
    // wait for a writer.
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName_, ec);
    if (ec || size > kIniMaxFileSize) return std::nullopt;
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) return std::nullopt;

    enum class Where { Before, Inside, After } where = Where::Before;
    std::string raw;
    bool firstLine = true;
    while (where != Where::After && std::getline(in, raw)) {
        std::string_view line = raw;
        if (firstLine && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);  // UTF-8 mark
        firstLine = false;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == ';') continue;

        if (auto name = SectionName(line)) {
            if (where == Where::Inside) where = Where::After;  // only the first such section counts
            else if (EqualsIgnoreAsciiCase(*name, section)) where = Where::Inside;
            continue;
        }
        if (where != Where::Inside) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (!EqualsIgnoreAsciiCase(Trim(line.substr(0, eq)), key)) continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() > kIniMaxValueLength) value = value.substr(0, kIniMaxValueLength);
        return std::string(value);
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    if (auto value = Find(section, key)) return std::move(*value);
    return std::string(defaultValue);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const {
    const auto value = Find(section, key);
    if (!value) return defaultValue;
    return ParseIniInteger(*value).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

}  // namespace rovenza
