// The CAN microcontroller's Intel HEX reader.
#include "FuzzHex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rovenza::fuzz::ReadHexLayout(data, size, rovenza::kCanImageLayout);
    return 0;
}
