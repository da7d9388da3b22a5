#pragma once
// JSON text for the command line's machine-readable output. The shapes are few and flat, and
// the Windows build carries no JSON library, so they are written here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rovenza {

// `text` as a JSON string. Valid UTF-8 is kept as it is; a text that is not (a package's
// member names may be in any code page) has each byte above 0x7F written as the Latin-1
// character of that value, so the result is always valid JSON.
std::string JsonString(std::string_view text);

// One JSON object, its fields in the order they are added.
class JsonObject {
public:
    JsonObject& text(std::string_view key, std::string_view value);
    JsonObject& number(std::string_view key, std::int64_t value);
    JsonObject& flag(std::string_view key, bool value);
    JsonObject& null(std::string_view key);
    // A value that is JSON text already (an object or an array).
    JsonObject& raw(std::string_view key, std::string_view json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    JsonObject& add(std::string_view key, std::string_view json);
    std::string body_;
};

// An array of values that are JSON text already.
std::string JsonArray(const std::vector<std::string>& items);

}  // namespace rovenza
