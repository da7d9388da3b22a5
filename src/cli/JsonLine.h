#pragma once
// One JSON object on one line, for the command line's event stream. Text is taken as UTF-8; a
// byte that is not part of a valid UTF-8 sequence is written as the character of that code
// (as Latin-1 would read it), so every line parses whatever bytes a message or path holds.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rovenza {

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

class JsonLine {
public:
    JsonLine& add(std::string_view key, std::string_view value);
    JsonLine& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonLine& add(std::string_view key, const std::string& value) { return add(key, std::string_view(value)); }
    JsonLine& add(std::string_view key, const std::optional<std::string>& value);  // nothing: null
    JsonLine& add(std::string_view key, std::int64_t value);
    JsonLine& add(std::string_view key, int value) { return add(key, static_cast<std::int64_t>(value)); }
    JsonLine& add(std::string_view key, double value);
    JsonLine& add(std::string_view key, bool value);
    // The object, without a line end.
    std::string str() const { return "{" + body_ + "}"; }

private:
    JsonLine& raw(std::string_view key, const std::string& value);
    std::string body_;
};

}  // namespace rovenza
