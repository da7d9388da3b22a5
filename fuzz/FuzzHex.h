#pragma once
// The Intel HEX reader under one layout: an image of exactly the layout's capacity, or a
// refusal told in one debugger line; the same whatever the chunks the file is read in.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "protocols/IntelHex.h"

namespace rovenza::fuzz {

// The image, or the refusal's text, of one reading in chunks of `chunkSize` bytes.
struct HexOutcome {
    HexImage image;
    std::string refusal;
};

inline HexOutcome ReadHexOutcome(const std::filesystem::path& file, const HexImageLayout& layout,
                                 std::size_t chunkSize) {
    HexOutcome outcome;
    CountingDebug debug;
    try {
        outcome.image = ReadHexImage(file, layout, debug, {.chunkSize = chunkSize});
        FUZZ_CHECK(outcome.image.bytes.size() == layout.capacity);
        FUZZ_CHECK(debug.lines == 0);
    } catch (const EHexFormatError& e) {
        FUZZ_CHECK(debug.lines == 1);
        outcome.refusal = e.what();
    }
    return outcome;
}

// Read whole and in small chunks (ending inside records and line ends), the file gives the same
// image or the same refusal.
inline void ReadHexLayout(const std::uint8_t* data, std::size_t size, const HexImageLayout& layout) {
    const std::filesystem::path file = WriteInput(data, size, "image.hex");
    const HexOutcome whole = ReadHexOutcome(file, layout, kHexChunkSize);
    const HexOutcome chunked = ReadHexOutcome(file, layout, 1 + size % 61);
    FUZZ_CHECK(whole.refusal == chunked.refusal);
    FUZZ_CHECK(whole.image.bytes == chunked.image.bytes);
    FUZZ_CHECK(whole.image.end == chunked.image.end);
    FUZZ_CHECK(whole.image.droppedBytes == chunked.image.droppedBytes);
    FUZZ_CHECK(whole.image.overrunBytes == chunked.image.overrunBytes);
    FUZZ_CHECK(whole.image.storedBytes == chunked.image.storedBytes);
    FUZZ_CHECK(whole.image.dataRecords == chunked.image.dataRecords);
    FUZZ_CHECK(whole.image.ranges == chunked.image.ranges);
}

}  // namespace rovenza::fuzz
