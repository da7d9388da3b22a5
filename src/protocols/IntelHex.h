#pragma once
// Intel HEX images for the boot-loader writers. The data bytes of the data records are
// joined in file order into one stream; the first `windowStart` stream bytes (the memory
// below the first programmed address) are dropped and the next `capacity` bytes form the
// image. Bytes the file does not reach hold the layout's fill: 0xFF (the erased-flash value)
// for the boot-loader images, 0 for a module image.
//
// Only records under extended linear address 0 form the stream. Records under a non-zero
// extended linear address (PIC18 configuration and EEPROM bytes) lie outside the image and
// are dropped, as are bytes beyond the capacity; after a return to address 0 the stream
// continues where the earlier low records left off.
//
// A file is refused, before anything is written to an instrument, when a record is
// malformed or fails its checksum, when the reading ends without an end-of-file record, when
// a stream record's load address is not the current stream position (a gap or reordering
// would shift every later byte), when no data byte reaches the image at all, or (where a
// segment address record completes the image) when a data record follows that record.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"

namespace rovenza {

// What a type-2 or type-3 (segment address) record means to the writer.
enum class HexSegmentRecord {
    CompletesImage,  // the image is complete; the rest of the file is examined and may hold
                     // no further data record
    StopsReading,    // the reading stops there and the writer refuses the image (HexImage::end)
};

struct HexImageLayout {
    std::uint32_t windowStart;
    std::uint32_t capacity;
    HexSegmentRecord segmentRecord;
    std::uint8_t fill = 0xFF;
};

// USB microcontroller: 960 rows of 32 bytes from 0x0800.
inline constexpr HexImageLayout kUsbImageLayout{2048, 30720, HexSegmentRecord::CompletesImage};
// CAN microcontroller: 1,000 blocks of 64 bytes from 0x0600.
inline constexpr HexImageLayout kCanImageLayout{1536, 64000, HexSegmentRecord::StopsReading};

// An amplifier module: the image from module address 0x600, as long as the module type's
// image buffer; a segment address record ends it as the end-of-file record does.
inline constexpr std::uint32_t kModuleImageStart = 1536;
constexpr HexImageLayout ModuleImageLayout(std::uint32_t capacity) {
    return {kModuleImageStart, capacity, HexSegmentRecord::CompletesImage, 0x00};
}

// The file cannot be opened or read.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file is not a well-formed image; the message names the file, the line and the reason.
class EHexFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    EHexFormatError(const std::string& text, std::size_t line, std::string reason)
        : std::runtime_error(text), line_(line), reason_(std::move(reason)) {}
    // The line the refusal concerns (from 1), or 0 for the file as a whole.
    std::size_t line() const { return line_; }
    // The reason alone, without file and line; empty when only the message was given.
    const std::string& reason() const { return reason_; }

private:
    std::size_t line_ = 0;
    std::string reason_;
};

enum class HexEnd {
    EndOfFile,       // a type-1 record
    SegmentRecord,   // a type-2 or type-3 record ended the reading
};

struct HexImage {
    std::vector<std::uint8_t> bytes;  // exactly the layout's capacity
    HexEnd end = HexEnd::EndOfFile;
    std::uint32_t droppedBytes = 0;   // data bytes beyond the capacity or under a non-zero extended
                                      // linear address
};

// Reads `file` into an image of `layout`. Throws EInOutError when the file cannot be read and
// EHexFormatError (after one line on `debug`) when the file is refused.
HexImage ReadHexImage(const std::filesystem::path& file, const HexImageLayout& layout, DebugOutput& debug);

// Loads a module image into `moduleImage`, whose length (the module type's) stays as it is:
// the buffer is zeroed first, then holds the file's data stream less its first 1536 bytes;
// stream bytes beyond the buffer are dropped. Throws as ReadHexImage does; a file with 1536
// data bytes or fewer is refused (nothing would reach the module). After a throw the buffer
// is all zeros.
void LoadModuleHex(const std::filesystem::path& file, std::vector<std::uint8_t>& moduleImage, DebugOutput& debug);

}  // namespace rovenza
