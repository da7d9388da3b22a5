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
        FUZZ_CHECK(configuration.bytes.size() == configuration.blocks() * kFpgaBlockSize);
        FUZZ_CHECK(configuration.bytes.size() * 2 <= size + 2 * kFpgaBlockSize);
    } else {
        FUZZ_CHECK(!result.reason.empty());
        FUZZ_CHECK(result.error != FpgaTextError::Missing && result.error != FpgaTextError::TooLarge);
    }
    return 0;
}
