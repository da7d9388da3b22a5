#pragma once
// One JSON object on one line, for the command line's event stream; its texts are written by
// JsonString (JsonText.h), so every line parses whatever bytes a message or path holds.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "JsonText.h"

namespace rovenza {


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
