// The manifest reader, asked what the families ask, and its integer rule on the whole input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "package/BootloadIni.h"
#include "package/WorkFolder.h"

using namespace rovenza;

namespace {

// A value read as an integer is the string read, parsed.
void CheckKey(const TIniFile& manifest, std::string_view section, std::string_view key) {
    const std::string text = manifest.ReadString(section, key, "");
    FUZZ_CHECK(text.size() <= kIniMaxValueLength);
    const std::int32_t value = manifest.ReadInteger(section, key, -7);
    FUZZ_CHECK(value == ParseIniInteger(text).value_or(-7));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TIniFile manifest(fuzz::WriteInput(data, size, std::string(kManifestFileName)));
    CheckKey(manifest, kManifestInfoSection, kManifestDeviceTypeKey);
    CheckKey(manifest, kManifestSettingsSection, kManifestFPGABitSwapKey);
    CheckKey(manifest, kManifestSettingsSection, kManifestFPGAPowerONKey);
    ParseIniInteger(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
