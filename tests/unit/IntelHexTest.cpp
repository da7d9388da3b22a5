// Intel HEX images: the stream rules, the window, and what makes a file unusable.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <sstream>
#include <tuple>

#include "protocols/IntelHex.h"
#include "support/RecordingPlatform.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

// One record line with a correct checksum.
std::string Record(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (auto b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    std::ostringstream line;
    line << ':';
    for (auto b : bytes) {
        const char* digits = "0123456789ABCDEF";
        line << digits[b >> 4] << digits[b & 15];
    }
    return line.str();
}

// Data records of `perRecord` bytes covering `bytes` from address 0, then the end record.
std::string HexFile(const std::vector<std::uint8_t>& bytes, std::size_t perRecord = 32) {
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += perRecord) {
        const auto n = std::min(perRecord, bytes.size() - at);
        text += Record(0, static_cast<std::uint16_t>(at), {bytes.begin() + at, bytes.begin() + at + n}) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

const std::string kEndRecord = ":00000001FF\r\n";

// HexFile without its end-of-file record.
std::string WithoutEnd(std::string text) {
    text.resize(text.size() - kEndRecord.size());
    return text;
}

std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

// What a reading gave: the image and its summary, or the refusal and its debugger lines.
struct Outcome {
    std::vector<std::uint8_t> bytes;
    HexEnd end = HexEnd::EndOfFile;
    std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t> counts;
    std::vector<HexRange> ranges;
    std::string refusal;
    std::size_t line = 0;
    std::vector<std::string> debugLines;
    friend bool operator==(const Outcome&, const Outcome&) = default;

    static Outcome Of(const std::filesystem::path& file, const HexImageLayout& layout, const HexReadLimits& limits) {
        Outcome outcome;
        RecordingDebug debug;
        try {
            HexImage image = ReadHexImage(file, layout, debug, limits);
            outcome.bytes = std::move(image.bytes);
            outcome.end = image.end;
            outcome.counts = {image.droppedBytes, image.overrunBytes, image.storedBytes, image.dataRecords};
            outcome.ranges = std::move(image.ranges);
        } catch (const EHexFormatError& e) {
            outcome.refusal = e.what();
            outcome.line = e.line();
        } catch (const EInOutError& e) {
            outcome.refusal = std::string("input/output: ") + e.what();
        }
        outcome.debugLines = std::move(debug.lines);
        return outcome;
    }
};

// The file is read in chunks: these sizes end chunks inside records, between CR and LF, and
// inside lines longer than a chunk.
constexpr std::size_t kChunkSizes[] = {1, 2, 3, 7, 16, 45, 521, 4096};

class IntelHexTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingDebug debug;
    std::filesystem::path Write(const std::string& text) {
        const auto path = dir.path() / "image.hex";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Every reading in these tests is made again with each chunk size: all give the same image or
    // the same refusal.
    void ExpectSameInEveryChunkSize(const std::filesystem::path& file, const HexImageLayout& layout) {
        const Outcome whole = Outcome::Of(file, layout, {});
        for (const std::size_t chunk : kChunkSizes)
            EXPECT_EQ(Outcome::Of(file, layout, {.chunkSize = chunk}), whole) << "chunks of " << chunk << ": " << whole.refusal;
    }
    HexImage Read(const std::string& text, HexImageLayout layout = kUsbImageLayout) {
        const auto file = Write(text);
        ExpectSameInEveryChunkSize(file, layout);
        return ReadHexImage(file, layout, debug);
    }
    void ExpectRefused(const std::string& text, const std::string& reasonPart,
                       HexImageLayout layout = kUsbImageLayout) {
        debug.lines.clear();
        EXPECT_THROW(Read(text, layout), EHexFormatError);
        EXPECT_EQ(debug.lines.size(), 1u);
        ASSERT_FALSE(debug.lines.empty());
        EXPECT_NE(debug.lines.back().find(reasonPart), std::string::npos) << debug.lines.back();
        EXPECT_NE(debug.lines.back().find("image.hex"), std::string::npos);
    }
};

TEST_F(IntelHexTest, FullFileFillsTheWindowAndDropsWhatLiesBelowIt) {
    for (const auto& layout : {kUsbImageLayout, kCanImageLayout}) {
        const auto full = Counting(layout.windowStart + layout.capacity);
        const HexImage image = Read(HexFile(full), layout);
        ASSERT_EQ(image.bytes.size(), layout.capacity);
        EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), full.begin() + layout.windowStart));
        EXPECT_EQ(image.droppedBytes, 0u);
        EXPECT_EQ(image.end, HexEnd::EndOfFile);
    }
}

TEST_F(IntelHexTest, UnreachedBytesAreErasedFlash) {
    const auto bytes = Counting(2048 + 100);
    const HexImage image = Read(HexFile(bytes, 16));
    EXPECT_EQ(image.bytes[0], bytes[2048]);
    EXPECT_EQ(image.bytes[99], bytes[2147]);
    EXPECT_EQ(image.bytes[100], 0xFF);
    EXPECT_EQ(image.bytes.back(), 0xFF);
}

TEST_F(IntelHexTest, LowerCaseDigitsAndLfLineEndsReadTheSame) {
    const auto bytes = Counting(4096);
    std::string text = HexFile(bytes);
    const HexImage upper = Read(text);
    std::string lower;
    for (char c : text)
        if (c != '\r') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Read(lower).bytes, upper.bytes);
}

TEST_F(IntelHexTest, ExtendedAddressZeroAndStartRecordsDoNotMoveTheStream) {
    const auto bytes = Counting(2048 + 64);
    std::string text;
    for (std::size_t at = 0; at < 2048 + 32; at += 32)
        text += Record(0, static_cast<std::uint16_t>(at), {bytes.begin() + at, bytes.begin() + at + 32}) + "\n";
    text += Record(4, 0, {0x00, 0x00}) + "\n" + Record(5, 0, {0, 0, 0, 0}) + "\n";
    text += Record(0, 2048 + 32, {bytes.begin() + 2080, bytes.end()}) + "\n:00000001FF\n";
    const HexImage image = Read(text);
    EXPECT_TRUE(std::equal(bytes.begin() + 2048, bytes.end(), image.bytes.begin()));
}

TEST_F(IntelHexTest, BytesBeyondTheCapacityAndAboveTheLowSegmentAreDropped) {
    // A PIC18 file: the full program memory, then configuration bytes at 0x300000 and EEPROM
    // bytes at 0xF00000.
    const auto program = Counting(32768);
    std::string text = WithoutEnd(HexFile(program, 32));
    text += Record(4, 0, {0x00, 0x30}) + "\r\n" + Record(0, 0, {0x12, 0x34, 0x56}) + "\r\n";
    text += Record(4, 0, {0x00, 0xF0}) + "\r\n" + Record(0, 0, {1, 2}) + "\r\n:00000001FF\r\n";
    const HexImage image = Read(text);
    EXPECT_TRUE(std::equal(program.begin() + 2048, program.end(), image.bytes.begin()));
    EXPECT_EQ(image.droppedBytes, 5u);

    // A short program whose configuration follows: those bytes never reach program memory.
    const auto shortProgram = Counting(4096);
    std::string shortText = WithoutEnd(HexFile(shortProgram));
    shortText += Record(4, 0, {0x00, 0x30}) + "\r\n" + Record(0, 0, {0x12, 0x34}) + "\r\n:00000001FF\r\n";
    const HexImage shortImage = Read(shortText);
    EXPECT_EQ(shortImage.bytes[4096 - 2048], 0xFF);
    EXPECT_EQ(shortImage.droppedBytes, 2u);

    const HexImage over = Read(HexFile(Counting(32768 + 10)));
    EXPECT_EQ(over.droppedBytes, 10u);
}

TEST_F(IntelHexTest, EndRecordsEndTheReadingAndWhatFollowsIsIgnored) {
    const auto bytes = Counting(2048 + 32);
    const std::string head = HexFile(bytes);  // ends in the end-of-file record
    EXPECT_EQ(Read(head + "\r\n").bytes[0], bytes[2048]);
    EXPECT_EQ(Read(head + "garbage after the end\r\n").end, HexEnd::EndOfFile);
    EXPECT_EQ(Read(head + Record(0, 2080, {1, 2}) + "\r\n").bytes[32], 0xFF);

    // A segment address record completes the USB image: nothing or only the end record may
    // follow it. The CAN reading stops at it, whatever follows.
    const std::string segment = WithoutEnd(head);
    const std::string type2 = Record(2, 0, {0x10, 0x00}) + "\r\n";
    const std::string type3 = Record(3, 0, {0, 0, 0, 0}) + "\r\n";
    const std::string more = Record(0, 2080, {1, 2}) + "\r\n";
    for (const auto& text : {segment + type2, segment + type3, segment + type2 + kEndRecord,
                             segment + type3 + Record(5, 0, {0, 0, 0, 0}) + "\r\n" + kEndRecord + more}) {
        const HexImage image = Read(text);
        EXPECT_EQ(image.end, HexEnd::SegmentRecord) << text;
        EXPECT_EQ(image.bytes[31], bytes[2079]);
    }
    for (const auto& text : {segment + type2, segment + type3 + more, segment + type2 + "not a record\r\n"})
        EXPECT_EQ(Read(text, kCanImageLayout).end, HexEnd::SegmentRecord) << text;
}

TEST_F(IntelHexTest, OnlyRecordsUnderExtendedAddressZeroFormTheStream) {
    const auto program = Counting(2048 + 96);
    auto data = [&](std::size_t from, std::size_t to) {
        return Record(0, static_cast<std::uint16_t>(from), {program.begin() + from, program.begin() + to}) + "\r\n";
    };
    const std::string config = Record(4, 0, {0x00, 0x30}) + "\r\n" + Record(0, 0, {0x12, 0x34, 0x56}) + "\r\n";
    const std::string eeprom = Record(4, 0, {0x00, 0xF0}) + "\r\n" + Record(0, 2048, {7, 7}) + "\r\n";
    const std::string low = Record(4, 0, {0x00, 0x00}) + "\r\n";
    std::string firstRun;
    for (std::size_t at = 0; at < 2048 + 32; at += 32) firstRun += data(at, at + 32);

    const std::string inOrder[] = {
        // Configuration first, then back to address 0 and the whole program.
        config + low + firstRun + data(2080, 2144) + kEndRecord,
        // High records between two runs of the program: the second run continues the first.
        firstRun + config + eeprom + low + data(2080, 2112) + config + low + data(2112, 2144) + kEndRecord,
    };
    for (const auto& text : inOrder) {
        const HexImage image = Read(text);
        EXPECT_TRUE(std::equal(program.begin() + 2048, program.end(), image.bytes.begin())) << text;
        EXPECT_EQ(image.bytes[96], 0xFF);
    }
    EXPECT_EQ(Read(inOrder[1]).droppedBytes, 3u + 2u + 3u);

    // After the return the addresses are still checked against the stream: a gap, and a run
    // that starts over at 0 as if the high records had begun a new stream.
    ExpectRefused(firstRun + config + eeprom + low + data(2081, 2144) + kEndRecord,
                  "line 71: data record at address 2081");
    ExpectRefused(config + low + firstRun + config + low + data(0, 64) + kEndRecord,
                  "does not continue the image at 2080");
}

TEST_F(IntelHexTest, FileWithoutAByteInTheImageIsRefused) {
    for (const auto& layout : {kUsbImageLayout, kCanImageLayout}) {
        const std::string belowWindow = HexFile(Counting(layout.windowStart));
        const std::string onlyHigh = Record(4, 0, {0x00, 0x30}) + "\r\n" + WithoutEnd(HexFile(Counting(4096))) +
                                     kEndRecord;
        for (const auto& text : {kEndRecord, Record(2, 0, {0x10, 0x00}) + "\r\n" + kEndRecord,
                                 Record(3, 0, {0, 0, 0, 0}) + "\r\n", belowWindow, onlyHigh})
            ExpectRefused(text, "no data byte reaches the image", layout);
        // One byte past the window start is enough.
        const auto oneByteIn = Counting(layout.windowStart + 1);
        EXPECT_EQ(Read(HexFile(oneByteIn), layout).bytes[0], oneByteIn.back());
    }
}

TEST_F(IntelHexTest, MalformedFilesAreRefusedWithFileLineAndReason) {
    const auto bytes = Counting(2048 + 64);
    const std::string good = HexFile(bytes);
    // The refusal names the last line read: the file has 2112 / 32 = 66 data records.
    ExpectRefused(WithoutEnd(good), "line 66: no end-of-file record");
    ExpectRefused(WithoutEnd(good), "line 66: no end-of-file record", kCanImageLayout);
    ExpectRefused("", "image.hex: no end-of-file record");

    std::string badSum = good;
    badSum[good.find('\n') - 2] = badSum[good.find('\n') - 2] == '0' ? '1' : '0';
    ExpectRefused(badSum, "checksum");

    ExpectRefused(":1000000001\r\n:00000001FF\r\n", "shorter than its data count");
    ExpectRefused(":0400000001G20304F5\r\n:00000001FF\r\n", "hexadecimal");
    ExpectRefused(":0000\r\n", "shorter than 5 bytes");
    ExpectRefused(Record(0, 0, {1, 2}) + "\r\n\r\n:00000001FF\r\n", "empty line");
    ExpectRefused(Record(0, 0, {1, 2}) + "\r\nnot a record\r\n:00000001FF\r\n", "line 2");

    // A gap, and a reordering, would shift every later byte.
    ExpectRefused(Record(0, 0, {1, 2}) + "\r\n" + Record(0, 4, {3}) + "\r\n:00000001FF\r\n", "does not continue");
    ExpectRefused(Record(0, 2, {1, 2}) + "\r\n" + Record(0, 0, {3, 4}) + "\r\n:00000001FF\r\n", "line 1");
    EXPECT_NO_THROW(Read(WithoutEnd(good) + Record(0, 7, {}) + "\r\n" + kEndRecord));

    // Data after a segment address record in the USB image.
    const std::string segment = WithoutEnd(good) + Record(2, 0, {0x10, 0x00}) + "\r\n";
    ExpectRefused(segment + Record(0, 2112, {1}) + "\r\n" + kEndRecord, "line 68: data record after a segment");
    ExpectRefused(segment + Record(4, 0, {0x00, 0x30}) + "\r\n" + Record(0, 0, {1}) + "\r\n",
                  "data record after a segment");
    ExpectRefused(segment + "\r\n" + Record(0, 2112, {1}) + "\r\n", "line 68: empty line");
}

// Line ends, and lines of any length: longer than a chunk, or than any record.
TEST_F(IntelHexTest, LineEndsAndLongLines) {
    const auto bytes = Counting(2048 + 32);
    const std::string good = HexFile(bytes);  // 65 data records, then the end record: 66 lines
    const std::string first = good.substr(0, good.find("\r\n"));
    const std::string rest = good.substr(first.size() + 2);
    const auto withLineEnds = [&](const std::string& lineEnd) {
        std::string text;
        for (std::size_t at = 0, next; (next = good.find("\r\n", at)) != std::string::npos; at = next + 2)
            text += good.substr(at, next - at) + lineEnd;
        return text;
    };
    const std::string blanks(100'000, ' ');
    const struct {
        const char* what;
        std::string text;
        std::size_t line;    // of the refusal
        std::string reason;  // empty: accepted
    } rows[] = {
        {"blanks, tabs and several CRs before the LF", withLineEnds(" \t\r\r\n"), 0, ""},
        {"the last line without a line end", good.substr(0, good.size() - 2), 0, ""},
        {"characters after the checksum", withLineEnds("junk\r\n"), 0, ""},
        {"a record, then blanks longer than any chunk", first + blanks + "\r\n" + rest, 0, ""},
        {"a record, then other characters longer than any chunk", first + std::string(100'000, 'z') + "\n" + rest, 0, ""},
        {"CR alone does not end a line", withLineEnds("\r"), 1, "no end-of-file record"},
        {"blanks after the last record, no end record", WithoutEnd(good) + " \t", 66,
         "empty line before the end-of-file record"},
        {"a line of blanks longer than any chunk", first + "\r\n" + blanks + "\r\n" + rest, 2, "empty line"},
        {"a long line that is no record", std::string(100'000, 'x') + "\r\n" + good, 1, "line does not start with ':'"},
        {"a short record, then a long run of blanks", ":0000" + blanks + "\r\n" + good, 1, "record shorter than 5 bytes"},
        {"a record shorter than its count, then blanks", ":10000000" + std::string(16, '0') + blanks + "\r\n" + good, 1,
         "record shorter than its data count says"},
    };
    for (const auto& row : rows) {
        if (row.reason.empty()) {
            EXPECT_EQ(Read(row.text).bytes[31], bytes[2079]) << row.what;
            continue;
        }
        try {
            Read(row.text);
            ADD_FAILURE() << row.what << ": accepted";
        } catch (const EHexFormatError& e) {
            EXPECT_EQ(std::tuple(e.line(), e.reason().substr(0, row.reason.size())), std::tuple(row.line, row.reason))
                << row.what;
        }
    }
}

// What a report shows of a reading: the data records, where they load, and where their bytes went.
TEST_F(IntelHexTest, TheReadingsSummaryCountsRecordsRangesAndDroppedBytes) {
    const std::string config = Record(4, 0, {0x00, 0x30}) + "\r\n" + Record(0, 0, {0x12, 0x34, 0x56}) + "\r\n";
    const std::string eeprom = Record(4, 0, {0x00, 0xF0}) + "\r\n" + Record(0, 0, {1, 2}) + "\r\n";
    const std::string low = Record(4, 0, {0x00, 0x00}) + "\r\n";
    const auto program = Counting(2048 + 96);
    const std::string firstRun = WithoutEnd(HexFile({program.begin(), program.begin() + 2080}));
    const std::string secondRun = Record(0, 2080, {program.begin() + 2080, program.end()}) + "\r\n";
    const struct {
        const char* what;
        std::string text;
        HexImageLayout layout;
        std::uint32_t records, stored, overrun, dropped;
        std::vector<HexRange> ranges;
    } rows[] = {
        {"past the capacity", HexFile(Counting(32768 + 10)), kUsbImageLayout, 1025, 30720, 10, 10, {{0, 32778}}},
        {"PIC18 configuration and EEPROM", WithoutEnd(HexFile(Counting(4096))) + config + eeprom + kEndRecord,
         kUsbImageLayout, 130, 2048, 0, 5, {{0, 4096}, {0x300000, 3}, {0xF00000, 2}}},
        {"high records between two runs", firstRun + config + low + secondRun + kEndRecord, kUsbImageLayout, 67, 96, 0, 3,
         {{0, 2080}, {0x300000, 3}, {2080, 64}}},
        {"empty data records", Record(0, 0, {}) + "\r\n" + HexFile(Counting(1600)), ModuleImageLayout(0x4000), 50, 64, 0, 0,
         {{0, 1600}}},
    };
    for (const auto& row : rows) {
        const HexImage image = Read(row.text, row.layout);
        EXPECT_EQ(std::tuple(image.dataRecords, image.storedBytes, image.overrunBytes, image.droppedBytes),
                  std::tuple(row.records, row.stored, row.overrun, row.dropped))
            << row.what;
        EXPECT_EQ(image.ranges, row.ranges) << row.what;
    }

    // A refusal carries its line and reason apart from the message.
    std::string badSum = HexFile(Counting(2048 + 256));
    std::size_t fifth = 0;
    for (int n = 0; n < 5; ++n) fifth = badSum.find('\n', fifth) + 1;
    badSum[fifth - 3] = badSum[fifth - 3] == '0' ? '1' : '0';
    try {
        Read(badSum);
        ADD_FAILURE() << "accepted";
    } catch (const EHexFormatError& e) {
        EXPECT_EQ(std::tuple(e.line(), e.reason()), std::tuple(5u, "checksum does not match"));
    }
}

TEST_F(IntelHexTest, TheCanImageRefusesASegmentRecord) {
    const auto bytes = Counting(1536 + 64);
    EXPECT_EQ(ReadCanHexImage(Write(HexFile(bytes)), debug).bytes[0], bytes[1536]);
    debug.lines.clear();
    try {
        ReadCanHexImage(Write(WithoutEnd(HexFile(bytes)) + Record(2, 0, {0x10, 0x00}) + "\r\n"), debug);
        ADD_FAILURE() << "accepted";
    } catch (const EHexFormatError& e) {
        EXPECT_EQ(std::tuple(e.line(), e.reason()), std::tuple(0u, "segment record, the CAN image is not sent"));
        EXPECT_EQ(debug.lines, std::vector<std::string>{e.what()});
    }
}

TEST_F(IntelHexTest, MissingFileIsAnInputOutputError) {
    EXPECT_THROW(ReadHexImage(dir.path() / "missing.hex", kUsbImageLayout, debug), EInOutError);
}

// Module images: the buffer keeps the module type's length, is zeroed before every load and
// takes the stream less its first 1536 bytes.
class ModuleHexTest : public IntelHexTest {
protected:
    // A buffer as an earlier module left it.
    std::vector<std::uint8_t> StaleImage(std::size_t length) { return std::vector<std::uint8_t>(length, 0xEE); }
    void Load(const std::string& text, std::vector<std::uint8_t>& image) {
        const auto file = Write(text);
        ExpectSameInEveryChunkSize(file, ModuleImageLayout(static_cast<std::uint32_t>(image.size())));
        LoadModuleHex(file, image, debug);
    }
};

TEST_F(ModuleHexTest, StreamFromModuleAddress0x600IntoAZeroedBuffer) {
    const auto stream = Counting(1536 + 100);
    const struct {
        const char* what;
        std::vector<std::uint8_t> data;
        std::size_t length;
        std::size_t stored;  // image bytes taken from the stream
    } cases[] = {
        {"100 image bytes", stream, 16384, 100},
        {"one image byte", Counting(1537), 16384, 1},
        {"exactly full", Counting(1536 + 16384), 16384, 16384},
        {"more than the buffer holds", Counting(1536 + 16384 + 64), 16384, 16384},
        {"a 32768-byte buffer", Counting(1536 + 16384 + 64), 32768, 16448},
    };
    for (const auto& c : cases) {
        auto image = StaleImage(c.length);
        Load(HexFile(c.data), image);
        ASSERT_EQ(image.size(), c.length) << c.what;
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + c.stored, c.data.begin() + 1536)) << c.what;
        EXPECT_EQ(std::count(image.begin() + c.stored, image.end(), 0), static_cast<std::ptrdiff_t>(c.length - c.stored))
            << c.what << ": the rest is zero";
    }
    EXPECT_TRUE(debug.lines.empty());
}

TEST_F(ModuleHexTest, SegmentAddressRecordEndsTheImage) {
    auto image = StaleImage(16384);
    const std::string text = WithoutEnd(HexFile(Counting(1536 + 8))) + Record(3, 0, {0, 0, 0, 0}) + "\r\n";
    Load(text, image);
    EXPECT_EQ(image[7], Counting(1544)[1543]);
    EXPECT_EQ(image[8], 0);
}

TEST_F(ModuleHexTest, RefusedFilesLeaveAZeroedBuffer) {
    const std::string good = HexFile(Counting(1536 + 64));
    std::string badSum = good;
    badSum[good.find('\n') - 2] = badSum[good.find('\n') - 2] == '0' ? '1' : '0';
    const struct {
        const char* what;
        std::string text;
        std::string reason;
    } cases[] = {
        {"exactly 1536 data bytes", HexFile(Counting(1536)), "no data byte reaches the image"},
        {"fewer data bytes", HexFile(Counting(700)), "no data byte reaches the image"},
        {"no data record", kEndRecord, "no data byte reaches the image"},
        {"checksum", badSum, "checksum"},
        {"no end-of-file record", WithoutEnd(good), "no end-of-file record"},
        {"gap", WithoutEnd(good) + Record(0, 1536 + 65, {1}) + "\r\n" + kEndRecord, "does not continue"},
        {"not a record", "junk\r\n" + good, "line 1"},
    };
    for (const auto& c : cases) {
        debug.lines.clear();
        auto image = StaleImage(16384);
        EXPECT_THROW(Load(c.text, image), EHexFormatError) << c.what;
        ASSERT_EQ(debug.lines.size(), 1u) << c.what;
        EXPECT_NE(debug.lines[0].find(c.reason), std::string::npos) << c.what << ": " << debug.lines[0];
        EXPECT_EQ(image, std::vector<std::uint8_t>(16384, 0)) << c.what;
    }

    auto image = StaleImage(32768);
    EXPECT_THROW(LoadModuleHex(dir.path() / "PIC_STG.hex", image, debug), EInOutError);
    EXPECT_EQ(image, std::vector<std::uint8_t>(32768, 0));
}

TEST_F(ModuleHexTest, BootLoaderImagesStillFillWithTheErasedValue) {
    const auto image = Read(HexFile(Counting(2048 + 4)));
    EXPECT_EQ(image.bytes[4], 0xFF);
    EXPECT_EQ(image.bytes.back(), 0xFF);
}

}  // namespace
}  // namespace rovenza
