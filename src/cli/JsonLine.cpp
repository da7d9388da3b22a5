#include "JsonLine.h"

#include <cmath>
#include <cstdio>

namespace rovenza {

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
