// The Intel HEX and hexadecimal-pair text that packages carry.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "fwu/HexWriter.h"

namespace rovenza {
namespace {

struct HexRecord {
    int type;
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

// Splits CR LF-ended Intel HEX text into records, checking the form and every checksum.
std::vector<HexRecord> ParseHex(const std::string& text) {
    std::vector<HexRecord> records;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 12 || line.front() != ':' || line.back() != '\r' ||
            line.find_first_not_of("0123456789ABCDEF", 1) != line.size() - 1) {
            ADD_FAILURE() << "not a record line: " << line;
            break;
        }
        std::vector<std::uint8_t> b;
        for (std::size_t i = 1; i + 2 < line.size(); i += 2)
            b.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        std::uint8_t sum = 0;
        for (std::uint8_t x : b) sum = static_cast<std::uint8_t>(sum + x);
        EXPECT_EQ(sum, 0) << "checksum of " << line;
        EXPECT_EQ(b.size(), 5u + b[0]) << "length of " << line;
        records.push_back({b[3], static_cast<std::uint32_t>((b[1] << 8) | b[2]), {b.begin() + 4, b.end() - 1}});
    }
    return records;
}

TEST(HexWriter, RecordsRoundTripWithTheirChecksums) {
    const struct {
        std::size_t size;
        std::uint32_t start;
        int perRecord;
        std::size_t type4;
    } cases[] = {
        {32768, 0, 16, 0},
        {40, 0xFFF0, 16, 1},      // crosses into the second 64 KiB
        {140000, 0, 255, 2},      // three segments
        {10, 0x00012340, 16, 1},  // starts above 64 KiB
        {0, 0, 16, 0},
    };
    for (const auto& c : cases) {
        const auto data = DemoImage(c.size, 7);
        const std::string text = WriteIntelHex(data, c.start, c.perRecord);
        EXPECT_TRUE(text.ends_with(":00000001FF\r\n"));
        std::map<std::uint32_t, std::uint8_t> memory;
        std::uint32_t upper = 0;
        std::size_t type4 = 0;
        for (const HexRecord& r : ParseHex(text)) {
            if (r.type == 4) {
                ++type4;
                upper = static_cast<std::uint32_t>((r.data.at(0) << 8) | r.data.at(1)) << 16;
            }
            if (r.type != 0) continue;
            EXPECT_LE(r.data.size(), static_cast<std::size_t>(c.perRecord));
            EXPECT_LE(r.address + r.data.size(), 0x10000u) << "record straddles 64 KiB";
            for (std::size_t i = 0; i < r.data.size(); ++i) memory[upper + r.address + static_cast<std::uint32_t>(i)] = r.data[i];
        }
        std::map<std::uint32_t, std::uint8_t> expected;
        for (std::size_t i = 0; i < data.size(); ++i) expected[c.start + static_cast<std::uint32_t>(i)] = data[i];
        EXPECT_EQ(type4, c.type4) << c.size << "@" << c.start;
        EXPECT_TRUE(memory == expected) << c.size << "@" << c.start;
    }
    EXPECT_EQ(WriteIntelHex({0x12, 0xAB}, 0x0100), ":0201000012AB40\r\n:00000001FF\r\n");
    EXPECT_THROW(WriteIntelHex({1}, 0, 0), std::invalid_argument);
    EXPECT_THROW(WriteIntelHex({1}, 0, 256), std::invalid_argument);
    EXPECT_THROW(WriteIntelHex({1, 2}, 0xFFFFFFFF), std::invalid_argument);
    EXPECT_EQ(WriteHexPairs({0x00, 0x1F, 0xA5, 0xFF}), "001FA5FF");  // the FPGA image's text
}

}  // namespace
}  // namespace rovenza
