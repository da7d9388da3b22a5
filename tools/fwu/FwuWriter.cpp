#include "FwuWriter.h"

#include <zip.h>

#include <stdexcept>

namespace rovenza {

namespace {

// 2024-01-01 00:00:00 in MS-DOS form.
constexpr zip_uint16_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
constexpr zip_uint16_t kDosTime = 0;

[[noreturn]] void Fail(zip_t* za, const std::filesystem::path& out, const std::string& what) {
    const std::string reason = zip_strerror(za);
    zip_discard(za);
    throw std::runtime_error("Cannot write " + out.string() + ": " + what + ": " + reason);
}

}  // namespace

void WriteFwu(const std::filesystem::path& out, const std::vector<FwuMember>& members) {
    int error = 0;
    zip_t* za = zip_open(out.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (za == nullptr) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const std::string reason = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw std::runtime_error("Cannot create " + out.string() + ": " + reason);
    }
    for (const FwuMember& m : members) {
        // The buffers stay alive until zip_close below.
        zip_source_t* src = zip_source_buffer(za, m.bytes.data(), m.bytes.size(), 0);
        if (src == nullptr) Fail(za, out, m.name);
        const zip_int64_t index = zip_file_add(za, m.name.c_str(), src, ZIP_FL_ENC_GUESS);
        if (index < 0) {
            zip_source_free(src);
            Fail(za, out, m.name);
        }
        const auto idx = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(za, idx, m.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0 ||
            zip_file_set_dostime(za, idx, kDosTime, kDosDate, 0) != 0)
            Fail(za, out, m.name);
    }
    if (zip_close(za) != 0) Fail(za, out, "closing");
}

std::string ManifestText(int deviceType, const std::vector<std::pair<std::string, std::string>>& settings) {
    std::string text = "[Info]\r\nDeviceType=" + std::to_string(deviceType) + "\r\n";
    if (!settings.empty()) {
        text += "[Settings]\r\n";
        for (const auto& [key, value] : settings) text += key + "=" + value + "\r\n";
    }
    return text;
}

}  // namespace rovenza
