// The module image loader: the buffer keeps its length, and is all zeros after a refusal.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "catalog/InstrumentCatalog.h"
#include "protocols/IntelHex.h"

using namespace rovenza;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzz::WriteInput(data, size, "PIC_IEPE.hex");
    const std::size_t length = FindModuleType(1)->imageLength;
    static const std::vector<std::uint8_t> zeros(length, 0);
    std::vector<std::uint8_t> moduleImage(length, 0xA5);  // an earlier module's image
    fuzz::CountingDebug debug;
    try {
        LoadModuleHex(file, moduleImage, debug);
        FUZZ_CHECK(moduleImage.size() == length);
        FUZZ_CHECK(debug.lines == 0);
    } catch (const EHexFormatError&) {
        FUZZ_CHECK(moduleImage.size() == length);
        FUZZ_CHECK(std::memcmp(moduleImage.data(), zeros.data(), length) == 0);
        FUZZ_CHECK(debug.lines == 1);
    }
    return 0;
}
