// The package tooling (Intel HEX text, demo packages, manifests) and the work folder names.
#include <gtest/gtest.h>

#include <cctype>
#include <map>

#include "fwu/DemoPackage.h"
#include "fwu/HexWriter.h"
#include "package/BootloadIni.h"
#include "package/WorkFolder.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

struct HexRecord {
    int type;
    std::uint16_t address;
    std::vector<std::uint8_t> data;
};

// Splits CR LF-ended Intel HEX text into records, checking the form and every checksum.
std::vector<HexRecord> ParseHex(const std::string& text) {
    std::vector<HexRecord> records;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at " << pos;
            break;
        }
        const std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        EXPECT_EQ(line.front(), ':');
        EXPECT_EQ(line.find_first_not_of(":0123456789ABCDEF"), std::string::npos) << line;
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        if (bytes.size() < 5 || bytes.size() != 5u + bytes[0]) {
            ADD_FAILURE() << "bad record length: " << line;
            continue;
        }
        std::uint8_t sum = 0;
        for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
        EXPECT_EQ(sum, 0) << "checksum of " << line;
        records.push_back({bytes[3], static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]),
                           std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end() - 1)});
    }
    return records;
}

// The image the records describe, placed by full (extended) address.
std::map<std::uint32_t, std::uint8_t> Placed(const std::vector<HexRecord>& records) {
    std::map<std::uint32_t, std::uint8_t> memory;
    std::uint32_t upper = 0;
    for (const auto& r : records) {
        if (r.type == 4) upper = static_cast<std::uint32_t>((r.data.at(0) << 8) | r.data.at(1)) << 16;
        if (r.type != 0) continue;
        for (std::size_t i = 0; i < r.data.size(); ++i) memory[upper + r.address + static_cast<std::uint32_t>(i)] = r.data[i];
    }
    return memory;
}

TEST(HexWriter, RecordsRoundTrip) {
    const struct {
        std::size_t size;
        std::uint32_t start;
        int perRecord;
        std::size_t expectedType4;
    } cases[] = {
        {32768, 0, 16, 0},
        {100, 0x0800, 32, 0},
        {40, 0xFFF0, 16, 1},      // crosses into the second 64 KiB
        {140000, 0, 255, 2},      // three segments
        {10, 0x00012340, 16, 1},  // starts above 64 KiB
        {0, 0, 16, 0},
    };
    for (const auto& c : cases) {
        const auto data = DemoImage(c.size, 7);
        const std::string text = WriteIntelHex(data, c.start, c.perRecord);
        ASSERT_TRUE(text.ends_with(":00000001FF\r\n"));
        const auto records = ParseHex(text);
        std::size_t type4 = 0;
        for (const auto& r : records) {
            if (r.type == 4) ++type4;
            if (r.type == 0) {
                EXPECT_LE(r.data.size(), static_cast<std::size_t>(c.perRecord));
                EXPECT_LE(r.address + r.data.size(), 0x10000u) << "record straddles 64 KiB";
            }
        }
        EXPECT_EQ(type4, c.expectedType4) << c.size << "@" << c.start;
        EXPECT_EQ(records.back().type, 1);
        const auto memory = Placed(records);
        ASSERT_EQ(memory.size(), data.size());
        std::uint32_t address = c.start;
        bool same = true;
        for (std::uint8_t b : data) same = same && memory.at(address++) == b;
        EXPECT_TRUE(same) << c.size << "@" << c.start;
    }
    EXPECT_THROW(WriteIntelHex({1}, 0, 0), std::invalid_argument);
    EXPECT_THROW(WriteIntelHex({1}, 0, 256), std::invalid_argument);
    EXPECT_THROW(WriteIntelHex({1, 2}, 0xFFFFFFFF), std::invalid_argument);
    EXPECT_EQ(WriteIntelHex({0x12, 0xAB}, 0x0100), ":0201000012AB40\r\n:00000001FF\r\n");
}

TEST(HexWriter, PairsAndDemoImages) {
    EXPECT_EQ(WriteHexPairs({0x00, 0x1F, 0xA5, 0xFF}), "001FA5FF");
    EXPECT_EQ(DemoImage(1000, 1), DemoImage(1000, 1));
    EXPECT_NE(DemoImage(1000, 1), DemoImage(1000, 2));
    const auto longer = DemoImage(100, 9);
    EXPECT_EQ(DemoImage(13, 9), std::vector<std::uint8_t>(longer.begin(), longer.begin() + 13));
}

TEST(DemoPackages, CarryTheFamilysManifestAndImages) {
    TempDir tmp;
    const struct {
        std::string_view family;
        int deviceType;
        std::vector<std::string> files;
    } cases[] = {
        {kDemoVk101, 4, {"Bootload.ini", "pic_USB.hex"}},
        {kDemoIrig, 1, {"Bootload.ini", "pic_USB.hex", "fpga.hex"}},
        {kDemoUlmo, 2, {"Bootload.ini", "ulmo_usb.hex", "ulmo_can.hex"}},
    };
    for (const auto& c : cases) {
        const auto members = DemoPackageMembers(c.family);
        ASSERT_TRUE(members);
        std::vector<std::string> names;
        for (const auto& m : *members) names.push_back(m.name);
        EXPECT_EQ(names, c.files);
        WriteFileBytes(tmp.path() / "Bootload.ini", members->front().bytes);
        EXPECT_EQ(TIniFile(tmp.path() / "Bootload.ini").ReadInteger("Info", "DeviceType", -1), c.deviceType);
        for (const auto& m : *members) {
            if (m.name == "fpga.hex") {
                EXPECT_EQ(m.bytes.size(), 4093u * 64u);
                EXPECT_EQ(m.bytes, WriteHexPairs(DemoFpgaImage()));
            } else if (m.name != "Bootload.ini") {
                const auto memory = Placed(ParseHex(m.bytes));
                const auto image = m.name == "ulmo_can.hex" ? DemoCanImage() : DemoUsbPicImage();
                EXPECT_EQ(memory.size(), m.name == "ulmo_can.hex" ? 65536u : 32768u) << m.name;
                EXPECT_EQ(memory.begin()->first, 0u);
                EXPECT_EQ(memory.rbegin()->second, image.back()) << m.name;
            }
        }
    }
    EXPECT_FALSE(DemoPackageMembers("terva"));
}

TEST(Manifest, Text) {
    EXPECT_EQ(ManifestText(4), "[Info]\r\nDeviceType=4\r\n");
    EXPECT_EQ(ManifestText(3, {{"FPGABitSwap", "1"}, {"FPGAPowerON", "0"}}),
              "[Info]\r\nDeviceType=3\r\n[Settings]\r\nFPGABitSwap=1\r\nFPGAPowerON=0\r\n");
}

TEST(WorkFolder, PathsNamesAndCreation) {
    TempDir tmp;
    const fs::path program = tmp.path() / "deep" / "program";
    EXPECT_EQ(WorkFolderPath(program), program / "Temp");
    EXPECT_EQ(PackageFolderPath(program), program / "FWUs");
    CreateProgramFolders(program);
    EXPECT_TRUE(fs::is_directory(program / "Temp"));
    EXPECT_TRUE(fs::is_directory(program / "FWUs"));
    CreateProgramFolders(program);  // already there: nothing happens

    WriteFileBytes(tmp.path() / "file", "x");
    CreateProgramFolders(tmp.path() / "file");  // cannot be created: reported by nobody
    EXPECT_FALSE(fs::exists(tmp.path() / "file" / "Temp"));

    for (std::string_view known : kPackageFileNames) {
        std::string upper(known);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(CanonicalPackageFileName(upper), known);
        EXPECT_EQ(CanonicalPackageFileName(known), known);
    }
    EXPECT_EQ(CanonicalPackageFileName("pic_USB.hex.bak"), "pic_USB.hex.bak");
    EXPECT_EQ(CanonicalPackageFileName("PIC-USB.HEX"), "PIC-USB.HEX");
}

}  // namespace
}  // namespace rovenza
