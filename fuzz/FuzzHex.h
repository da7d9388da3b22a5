#pragma once
// The Intel HEX reader under one layout: an image of exactly the layout's capacity, or a
// refusal told in one debugger line.
#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "protocols/IntelHex.h"

namespace rovenza::fuzz {

inline void ReadHexLayout(const std::uint8_t* data, std::size_t size, const HexImageLayout& layout) {
    const std::filesystem::path file = WriteInput(data, size, "image.hex");
    CountingDebug debug;
    try {
        const HexImage image = ReadHexImage(file, layout, debug);
        FUZZ_CHECK(image.bytes.size() == layout.capacity);
        FUZZ_CHECK(debug.lines == 0);
    } catch (const EHexFormatError&) {
        FUZZ_CHECK(debug.lines == 1);
    }
}

}  // namespace rovenza::fuzz
