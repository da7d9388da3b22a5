// The FPGA configuration text reader: whole blocks, or a reason.
#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "protocols/FpgaConfig.h"

using namespace rovenza;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FpgaTextResult result = ReadFpgaConfiguration(fuzz::WriteInput(data, size, "fpga.hex"));
    if (result.configuration) {
        const FpgaConfiguration& configuration = *result.configuration;
        FUZZ_CHECK(configuration.blocks() > 0);
        FUZZ_CHECK(configuration.digits % 2 == 0 && configuration.digits <= size);
        FUZZ_CHECK(configuration.blocks() * kFpgaBlockSize * 2 <= size + 2 * kFpgaBlockSize);
        // Every block decodes from the checked text.
        ImageFile::Reader reader(configuration.text);
        for (std::size_t b = 0; b < configuration.blocks(); ++b) configuration.block(reader, b);
    } else {
        FUZZ_CHECK(!result.reason.empty());
        FUZZ_CHECK(result.error != FpgaTextError::Missing && result.error != FpgaTextError::TooLarge);
    }
    return 0;
}
