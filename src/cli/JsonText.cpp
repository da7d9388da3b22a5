#include "JsonText.h"

#include <cstdio>

namespace rovenza {

namespace {

// Well-formed UTF-8: no overlong form, no surrogate, nothing above U+10FFFF.
bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : (c >> 4) == 0xE ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) return false;
        if (length > 2) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
                (c == 0xF4 && next >= 0x90))
                return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

std::string JsonString(std::string_view text) {
    const bool utf8 = ValidUtf8(text);
    std::string json = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += ch;
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += ch;
        }
    }
    return json + "\"";
}

JsonObject& JsonObject::add(std::string_view key, std::string_view json) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
    body_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) { return add(key, JsonString(value)); }
JsonObject& JsonObject::number(std::string_view key, std::int64_t value) { return add(key, std::to_string(value)); }
JsonObject& JsonObject::flag(std::string_view key, bool value) { return add(key, value ? "true" : "false"); }
JsonObject& JsonObject::null(std::string_view key) { return add(key, "null"); }
JsonObject& JsonObject::raw(std::string_view key, std::string_view json) { return add(key, json); }

std::string JsonArray(const std::vector<std::string>& items) {
    std::string json = "[";
    for (std::size_t i = 0; i < items.size(); ++i) json += (i ? "," : "") + items[i];
    return json + "]";
}

}  // namespace rovenza
