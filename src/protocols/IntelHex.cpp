#include "IntelHex.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <utility>

namespace rovenza {

namespace {

enum RecordType : std::uint8_t {
    kData = 0,
    kEndOfFile = 1,
    kExtendedSegment = 2,
    kStartSegment = 3,
    kExtendedLinear = 4,
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw EInOutError("Cannot open file " + file.string());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw EInOutError("Cannot read file " + file.string());
    return text;
}

struct Record {
    std::uint8_t count;
    std::uint16_t address;
    std::uint8_t type;
    std::vector<std::uint8_t> data;
};

// Decodes one ':' line; returns the reason when it is malformed.
std::optional<std::string> DecodeRecord(const std::string& line, Record& record) {
    const std::size_t digits = line.size() - 1;
    auto byteAt = [&](std::size_t index, std::uint8_t& value) {
        const std::size_t pos = 1 + 2 * index;
        if (pos + 1 >= line.size()) return false;
        const int hi = HexDigit(line[pos]);
        const int lo = HexDigit(line[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        value = static_cast<std::uint8_t>(hi * 16 + lo);
        return true;
    };
    if (digits < 10) return "record shorter than 5 bytes";
    std::uint8_t header[4];
    for (std::size_t i = 0; i < 4; ++i)
        if (!byteAt(i, header[i])) return "record holds a character that is not a hexadecimal digit";
    record.count = header[0];
    record.address = static_cast<std::uint16_t>(header[1] << 8 | header[2]);
    record.type = header[3];
    const std::size_t total = 5u + record.count;
    if (digits < 2 * total) return "record shorter than its data count says";
    record.data.resize(record.count);
    std::uint8_t checksum = static_cast<std::uint8_t>(header[0] + header[1] + header[2] + header[3]);
    for (std::size_t i = 0; i < record.count; ++i) {
        if (!byteAt(4 + i, record.data[i])) return "record holds a character that is not a hexadecimal digit";
        checksum = static_cast<std::uint8_t>(checksum + record.data[i]);
    }
    std::uint8_t given = 0;
    if (!byteAt(4 + record.count, given)) return "record holds a character that is not a hexadecimal digit";
    if (static_cast<std::uint8_t>(checksum + given) != 0) return "checksum does not match";
    return std::nullopt;
}

[[noreturn]] void Refuse(DebugOutput& debug, const std::filesystem::path& file, std::size_t lineNumber,
                         const std::string& reason) {
    std::ostringstream text;
    text << "Intel HEX file " << file.string();
    if (lineNumber > 0) text << ", line " << lineNumber;
    text << ": " << reason;
    debug.write(text.str());
    throw EHexFormatError(text.str(), lineNumber, reason);
}

// Counts a data record of `count` bytes loading at `address` in the reading's summary.
void Note(HexImage& image, std::uint32_t address, std::uint32_t count) {
    if (count == 0) return;
    ++image.dataRecords;
    if (!image.ranges.empty() && image.ranges.back().first + image.ranges.back().length == address)
        image.ranges.back().length += count;
    else
        image.ranges.push_back({address, count});
}

}  // namespace

HexImage ReadHexImage(const std::filesystem::path& file, const HexImageLayout& layout, DebugOutput& debug) {
    // Measured before it is opened: only a regular file has a size, and opening a FIFO would
    // wait for a writer.
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) throw EInOutError("Cannot open file " + file.string());
    if (size > kMaxHexFileSize)
        Refuse(debug, file, 0, std::to_string(size) + " bytes, more than the " + std::to_string(kMaxHexFileSize) +
                                   " an image file may hold");
    const std::string text = ReadWholeFile(file);

    HexImage image;
    image.bytes.assign(layout.capacity, layout.fill);
    std::uint32_t stream = 0;          // data bytes read so far under extended linear address 0
    std::uint32_t stored = 0;          // of those, the ones that reached the image
    std::uint32_t linearAddress = 0;   // upper 16 address bits of the following data records
    bool imageComplete = false;        // a segment address record completed the image
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    Record record;

    auto finish = [&](HexEnd end) {
        if (stored == 0)
            Refuse(debug, file, 0,
                   "no data byte reaches the image (stream positions " + std::to_string(layout.windowStart) +
                       " to " + std::to_string(layout.windowStart + layout.capacity - 1) + ")");
        image.end = end;
        image.storedBytes = stored;
        return std::move(image);
    };

    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();

        if (line.empty() || line.front() != ':')
            Refuse(debug, file, lineNumber, line.empty() ? "empty line before the end-of-file record"
                                                         : "line does not start with ':'");
        if (auto reason = DecodeRecord(line, record)) Refuse(debug, file, lineNumber, *reason);

        switch (record.type) {
        case kData:
            if (imageComplete && record.count > 0)
                Refuse(debug, file, lineNumber, "data record after a segment address record");
            if (linearAddress != 0) {
                image.droppedBytes += record.count;
                Note(image, linearAddress << 16 | record.address, record.count);
                break;
            }
            // The stream continues where the previous record under address 0 ended, also after
            // records under a higher address came between them.
            if (record.count > 0 && (stream > 0xFFFFu || record.address != stream))
                Refuse(debug, file, lineNumber,
                       "data record at address " + std::to_string(record.address) +
                           " does not continue the image at " + std::to_string(stream));
            Note(image, record.address, record.count);
            for (std::uint8_t byte : record.data) {
                if (stream >= layout.windowStart) {
                    const std::uint32_t offset = stream - layout.windowStart;
                    if (offset < layout.capacity) {
                        image.bytes[offset] = byte;
                        ++stored;
                    } else {
                        ++image.droppedBytes;
                        ++image.overrunBytes;
                    }
                }
                ++stream;
            }
            break;
        case kEndOfFile:
            return finish(imageComplete ? HexEnd::SegmentRecord : HexEnd::EndOfFile);
        case kExtendedSegment:
        case kStartSegment:
            if (layout.segmentRecord == HexSegmentRecord::StopsReading) return finish(HexEnd::SegmentRecord);
            imageComplete = true;  // the rest is still examined for data records
            break;
        case kExtendedLinear:
            if (record.count >= 2) linearAddress = static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
            break;
        default:
            break;  // start linear address and unknown types carry nothing for the image
        }
    }
    if (imageComplete) return finish(HexEnd::SegmentRecord);
    Refuse(debug, file, lineNumber, "no end-of-file record");
}

void LoadModuleHex(const std::filesystem::path& file, std::vector<std::uint8_t>& moduleImage, DebugOutput& debug) {
    std::fill(moduleImage.begin(), moduleImage.end(), std::uint8_t{0});
    HexImage image = ReadHexImage(file, ModuleImageLayout(static_cast<std::uint32_t>(moduleImage.size())), debug);
    moduleImage = std::move(image.bytes);
}

HexImage ReadCanHexImage(const std::filesystem::path& file, DebugOutput& debug) {
    HexImage image = ReadHexImage(file, kCanImageLayout, debug);
    if (image.end != HexEnd::EndOfFile) {
        const std::string reason = "segment record, the CAN image is not sent";
        const std::string text = "Intel HEX file " + file.string() + ": " + reason;
        debug.write(text);
        throw EHexFormatError(text, 0, reason);
    }
    return image;
}

}  // namespace rovenza
