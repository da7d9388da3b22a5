#include "JsonLine.h"

#include <cmath>
#include <cstdio>

namespace rovenza {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and codes beyond U+10FFFF are not valid.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string Escaped(unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    return buffer;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (const std::size_t n = Utf8SequenceLength(text.substr(i))) {
                out.append(text.substr(i, n));
                i += n;
            } else {
                out += Escaped(c);
                ++i;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += Escaped(c);
                else
                    out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

JsonLine& JsonLine::raw(std::string_view key, const std::string& value) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonString(key) + ":" + value;
    return *this;
}

JsonLine& JsonLine::add(std::string_view key, std::string_view value) { return raw(key, JsonString(value)); }

JsonLine& JsonLine::add(std::string_view key, const std::optional<std::string>& value) {
    return raw(key, value ? JsonString(*value) : std::string("null"));
}

JsonLine& JsonLine::add(std::string_view key, std::int64_t value) { return raw(key, std::to_string(value)); }

JsonLine& JsonLine::add(std::string_view key, double value) {
    if (!std::isfinite(value)) return raw(key, "null");
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return raw(key, buffer);
}

JsonLine& JsonLine::add(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }

}  // namespace rovenza
