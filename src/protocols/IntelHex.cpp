#include "IntelHex.h"

#include <algorithm>
#include <cstring>
#include <fstream>
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

// 0 to 15 for a hexadecimal digit, 0xFF for any other character.
constexpr std::array<std::uint8_t, 256> MakeHexValues() {
    std::array<std::uint8_t, 256> values{};
    for (std::size_t c = 0; c < values.size(); ++c) {
        values[c] = c >= '0' && c <= '9'   ? static_cast<std::uint8_t>(c - '0')
                    : c >= 'A' && c <= 'F' ? static_cast<std::uint8_t>(c - 'A' + 10)
                    : c >= 'a' && c <= 'f' ? static_cast<std::uint8_t>(c - 'a' + 10)
                                           : std::uint8_t{0xFF};
    }
    return values;
}
constexpr std::array<std::uint8_t, 256> kHexValues = MakeHexValues();

// Characters that end a line without belonging to it.
bool IsLineEndBlank(char c) { return c == '\r' || c == ' ' || c == '\t'; }

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

struct HexRecordReader::Source {
    std::ifstream in;
};

HexRecordReader::HexRecordReader(const std::filesystem::path& file, DebugOutput& debug, const HexReadLimits& limits)
    : file_(file), debug_(debug) {
    // Measured before it is opened: only a regular file has a size, and opening a FIFO would
    // wait for a writer.
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) throw EInOutError("Cannot open file " + file.string());
    if (size > limits.maxFileSize)
        Refuse(0, std::to_string(size) + " bytes, more than the " + std::to_string(limits.maxFileSize) +
                      " an image file may hold");
    source_ = std::make_unique<Source>();
    source_->in.open(file, std::ios::binary);
    if (!source_->in) throw EInOutError("Cannot open file " + file.string());
    // A small file takes a buffer of its size.
    chunk_.resize(static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, std::max<std::size_t>(limits.chunkSize, 1))));
}

HexRecordReader::~HexRecordReader() = default;

void HexRecordReader::Refuse(std::size_t line, const std::string& reason) const {
    std::ostringstream text;
    text << "Intel HEX file " << file_.string();
    if (line > 0) text << ", line " << line;
    text << ": " << reason;
    debug_.write(text.str());
    throw EHexFormatError(text.str(), line, reason);
}

void HexRecordReader::Fill() {
    at_ = end_ = 0;
    if (ended_) return;
    std::ifstream& in = source_->in;
    in.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
    end_ = static_cast<std::size_t>(in.gcount());
    if (in.bad()) throw EInOutError("Cannot read file " + file_.string());
    ended_ = !in.good() || end_ == 0;
}

// Keeps the start of a line that runs on into the next chunk, and where its significant part ends.
void HexRecordReader::Keep(const char* text, std::size_t length) {
    const std::size_t have = std::min(keptLength_, kKept);
    std::memcpy(kept_.data() + have, text, std::min(kKept - have, length));
    for (std::size_t i = length; i > 0; --i) {
        if (!IsLineEndBlank(text[i - 1])) {
            keptSignificant_ = keptLength_ + i;
            break;
        }
    }
    keptLength_ += length;
}

bool HexRecordReader::Next(HexRecord& record) {
    for (;;) {
        if (at_ == end_) {
            if (!ended_) {
                Fill();
                continue;
            }
            if (!keeping_) return false;
            // The last line has no line end.
            ++line_;
            keeping_ = false;
            Decode(kept_.data(), keptSignificant_, record);
            return true;
        }
        const char* from = chunk_.data() + at_;
        const auto* lineEnd = static_cast<const char*>(std::memchr(from, '\n', end_ - at_));
        if (lineEnd == nullptr) {
            if (!keeping_) keptLength_ = keptSignificant_ = 0;
            keeping_ = true;
            Keep(from, end_ - at_);
            at_ = end_;
            continue;
        }
        const auto length = static_cast<std::size_t>(lineEnd - from);
        at_ += length + 1;
        ++line_;
        if (keeping_) {
            keeping_ = false;
            Keep(from, length);
            Decode(kept_.data(), keptSignificant_, record);
        } else {
            std::size_t significant = length;
            while (significant > 0 && IsLineEndBlank(from[significant - 1])) --significant;
            Decode(from, significant, record);
        }
        return true;
    }
}

// Decodes the line whose first `length` characters (the CRs and blanks at its end left out) are
// at `text`; of a longer line than the longest record only the first kKept need be there.
void HexRecordReader::Decode(const char* text, std::size_t length, HexRecord& record) {
    if (length == 0) Refuse(line_, "empty line before the end-of-file record");
    if (text[0] != ':') Refuse(line_, "line does not start with ':'");
    const std::size_t digits = length - 1;
    if (digits < 10) Refuse(line_, "record shorter than 5 bytes");
    const auto* pairs = reinterpret_cast<const unsigned char*>(text + 1);
    // Every pair's digits are or-ed into `invalid`: above 15 once any of them is not a digit.
    unsigned invalid = 0;
    const auto pair = [&](std::size_t index) {
        const unsigned high = kHexValues[pairs[2 * index]];
        const unsigned low = kHexValues[pairs[2 * index + 1]];
        invalid |= high | low;
        return static_cast<std::uint8_t>(high << 4 | low);
    };
    const std::uint8_t header[4] = {pair(0), pair(1), pair(2), pair(3)};
    if (invalid > 15) Refuse(line_, "record holds a character that is not a hexadecimal digit");
    record.count = header[0];
    record.address = static_cast<std::uint16_t>(header[1] << 8 | header[2]);
    record.type = header[3];
    if (digits < 2 * (5u + record.count)) Refuse(line_, "record shorter than its data count says");
    std::uint8_t checksum = static_cast<std::uint8_t>(header[0] + header[1] + header[2] + header[3]);
    for (std::size_t i = 0; i < record.count; ++i) {
        data_[i] = pair(4 + i);
        checksum = static_cast<std::uint8_t>(checksum + data_[i]);
    }
    checksum = static_cast<std::uint8_t>(checksum + pair(4 + record.count));
    if (invalid > 15) Refuse(line_, "record holds a character that is not a hexadecimal digit");
    if (checksum != 0) Refuse(line_, "checksum does not match");
    record.data = data_.data();
}

HexImage ReadHexImage(const std::filesystem::path& file, const HexImageLayout& layout, DebugOutput& debug,
                      const HexReadLimits& limits) {
    HexRecordReader reader(file, debug, limits);
    HexImage image;
    image.bytes.assign(layout.capacity, layout.fill);
    std::uint32_t stream = 0;          // data bytes read so far under extended linear address 0
    std::uint32_t stored = 0;          // of those, the ones that reached the image
    std::uint32_t linearAddress = 0;   // upper 16 address bits of the following data records
    bool imageComplete = false;        // a segment address record completed the image

    auto finish = [&](HexEnd end) {
        if (stored == 0)
            reader.Refuse(0, "no data byte reaches the image (stream positions " + std::to_string(layout.windowStart) +
                                 " to " + std::to_string(layout.windowStart + layout.capacity - 1) + ")");
        image.end = end;
        image.storedBytes = stored;
        return std::move(image);
    };

    HexRecord record;
    while (reader.Next(record)) {
        switch (record.type) {
        case kData: {
            if (imageComplete && record.count > 0)
                reader.Refuse(reader.line(), "data record after a segment address record");
            if (linearAddress != 0) {
                image.droppedBytes += record.count;
                Note(image, linearAddress << 16 | record.address, record.count);
                break;
            }
            // The stream continues where the previous record under address 0 ended, also after
            // records under a higher address came between them.
            if (record.count > 0 && (stream > 0xFFFFu || record.address != stream))
                reader.Refuse(reader.line(), "data record at address " + std::to_string(record.address) +
                                                 " does not continue the image at " + std::to_string(stream));
            Note(image, record.address, record.count);
            // Of the record's bytes, those below the window are skipped, those past its
            // capacity dropped.
            const std::uint32_t below =
                std::min<std::uint32_t>(record.count, layout.windowStart - std::min(stream, layout.windowStart));
            if (below < record.count) {
                const std::uint32_t offset = stream + below - layout.windowStart;
                const std::uint32_t inside =
                    std::min<std::uint32_t>(record.count - below, layout.capacity - std::min(offset, layout.capacity));
                if (inside > 0) std::copy_n(record.data + below, inside, image.bytes.begin() + offset);
                stored += inside;
                image.droppedBytes += record.count - below - inside;
                image.overrunBytes += record.count - below - inside;
            }
            stream += record.count;
            break;
        }
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
    reader.Refuse(reader.line(), "no end-of-file record");
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
