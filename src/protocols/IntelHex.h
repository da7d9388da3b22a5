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
// The file is read in chunks of kHexChunkSize bytes and each record is decoded where it lies,
// so the memory a reading takes does not grow with the file or with its lines.
//
// A file larger than kMaxHexFileSize is refused before it is read. A file is refused, before
// anything is written to an instrument, when a record is
// malformed or fails its checksum, when the reading ends without an end-of-file record, when
// a stream record's load address is not the current stream position (a gap or reordering
// would shift every later byte), when no data byte reaches the image at all, or (where a
// segment address record completes the image) when a data record follows that record.
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
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

// The largest Intel HEX file read: many times the text of the largest image (a 64,000-byte CAN
// image is about 180 KB of text), with room for configuration and EEPROM records.
inline constexpr std::uint64_t kMaxHexFileSize = 4 * 1024 * 1024;

// How much of the file is read at a time.
inline constexpr std::size_t kHexChunkSize = 64 * 1024;

struct HexReadLimits {
    std::uint64_t maxFileSize = kMaxHexFileSize;  // a larger file is refused before it is read
    std::size_t chunkSize = kHexChunkSize;
};

// The file cannot be opened or read (also: it is not a regular file).
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file is not a well-formed image; the message names the file, the line and the reason.
class EHexFormatError : public std::runtime_error {
public:
    explicit EHexFormatError(const std::string& message, std::size_t line = 0, std::string reason = {})
        : std::runtime_error(message), line_(line), reason_(reason.empty() ? message : std::move(reason)) {}
    // The line the refusal names (from 1), or 0 when it names none.
    std::size_t line() const { return line_; }
    // The reason alone, without the file and the line.
    const std::string& reason() const { return reason_; }

private:
    std::size_t line_;
    std::string reason_;
};

enum class HexEnd {
    EndOfFile,       // a type-1 record
    SegmentRecord,   // a type-2 or type-3 record ended the reading
};

// Consecutive data bytes by load address (the extended linear address included).
struct HexRange {
    std::uint32_t first = 0;
    std::uint32_t length = 0;
    friend bool operator==(const HexRange&, const HexRange&) = default;
};

struct HexImage {
    std::vector<std::uint8_t> bytes;  // exactly the layout's capacity
    HexEnd end = HexEnd::EndOfFile;
    std::uint32_t droppedBytes = 0;   // data bytes beyond the capacity or under a non-zero extended
                                      // linear address
    // What the reading saw, for reports; the image does not depend on it.
    std::uint32_t overrunBytes = 0;   // of the dropped bytes, those beyond the capacity
    std::uint32_t storedBytes = 0;    // data bytes that reached the image
    std::uint32_t dataRecords = 0;    // data records carrying at least one byte
    std::vector<HexRange> ranges;     // where those records load, adjacent records joined
};

// One record of a file. `data` points into the reader and holds `count` bytes until the next
// record is read.
struct HexRecord {
    std::uint8_t count = 0;
    std::uint16_t address = 0;
    std::uint8_t type = 0;
    const std::uint8_t* data = nullptr;
};

// Reads a file record by record. Lines end at LF; CR, blanks and tabs at a line's end are not
// part of it, and characters after a record's checksum are ignored. A line that is empty, does
// not start with ':' or is not a well-formed record with a matching checksum refuses the file.
class HexRecordReader {
public:
    // Throws EInOutError when the file cannot be opened (also: it is not a regular file), and
    // EHexFormatError (after one line on `debug`) when it is larger than `limits.maxFileSize`.
    HexRecordReader(const std::filesystem::path& file, DebugOutput& debug, const HexReadLimits& limits = {});
    HexRecordReader(const HexRecordReader&) = delete;
    HexRecordReader& operator=(const HexRecordReader&) = delete;
    ~HexRecordReader();

    // The next record; false after the last line. Throws EHexFormatError (after one line on
    // `debug`) for a line that is no record, EInOutError when the file cannot be read.
    bool Next(HexRecord& record);
    // The lines read so far (the last record's line).
    std::size_t line() const { return line_; }
    // Refuses the file: one line naming the file, `line` (none when 0) and `reason` on `debug`,
    // then EHexFormatError.
    [[noreturn]] void Refuse(std::size_t line, const std::string& reason) const;

private:
    struct Source;
    void Fill();
    void Decode(const char* text, std::size_t length, HexRecord& record);
    void Keep(const char* text, std::size_t length);

    const std::filesystem::path file_;
    DebugOutput& debug_;
    std::unique_ptr<Source> source_;
    std::vector<char> chunk_;
    std::size_t at_ = 0;    // the first byte of the chunk not yet taken
    std::size_t end_ = 0;   // the end of the chunk's bytes
    bool ended_ = false;    // the file has no more bytes
    std::size_t line_ = 0;
    // A line that runs on into the next chunk: its first kKept characters, its length so far,
    // and its length without the blanks and CRs at its end.
    static constexpr std::size_t kKept = 1 + 2 * (5 + 255);  // the longest record
    std::array<char, kKept> kept_{};
    bool keeping_ = false;
    std::size_t keptLength_ = 0;
    std::size_t keptSignificant_ = 0;
    std::array<std::uint8_t, 255> data_{};
};

// Reads `file` into an image of `layout`. Throws EInOutError when the file cannot be read and
// EHexFormatError (after one line on `debug`) when the file is refused.
HexImage ReadHexImage(const std::filesystem::path& file, const HexImageLayout& layout, DebugOutput& debug,
                      const HexReadLimits& limits = {});

// Loads a module image into `moduleImage`, whose length (the module type's) stays as it is:
// the buffer is zeroed first, then holds the file's data stream less its first 1536 bytes;
// stream bytes beyond the buffer are dropped. Throws as ReadHexImage does; a file with 1536
// data bytes or fewer is refused (nothing would reach the module). After a throw the buffer
// is all zeros.
void LoadModuleHex(const std::filesystem::path& file, std::vector<std::uint8_t>& moduleImage, DebugOutput& debug);

// The CAN microcontroller's image: ReadHexImage with kCanImageLayout, and a file whose reading
// a segment address record stopped is refused as well (EHexFormatError, after one line on
// `debug`): the CAN image carries none, so it is not sent.
HexImage ReadCanHexImage(const std::filesystem::path& file, DebugOutput& debug);

}  // namespace rovenza
