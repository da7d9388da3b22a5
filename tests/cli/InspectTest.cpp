// --inspect: a package read as an upgrade would read it, with no instrument and nothing left
// behind; exit 0 when it fits a family, 3 when it cannot be read, 5 when it fits none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include <nlohmann/json.hpp>

#include "CliRunner.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using nlohmann::json;

std::vector<FwuMember> Demo(std::string_view family) { return *DemoPackageMembers(family); }

FwuMember& Member(std::vector<FwuMember>& members, std::string_view name) {
    for (auto& member : members)
        if (member.name == name) return member;
    throw std::runtime_error("no member " + std::string(name));
}

// The HEX text with the checksum of line `line` (from 1) made wrong.
void BreakChecksum(std::string& text, int line) {
    std::size_t end = 0;
    for (int n = 0; n < line; ++n) end = text.find('\n', end) + 1;
    char& digit = text[end - 3];  // the last checksum digit, before "\r\n"
    digit = digit == '0' ? '1' : '0';
}

struct Row {
    const char* what;
    std::function<void(const fs::path&)> write;  // writes the package (or not)
    int status;
    const char* family;  // nullptr: none
    bool wouldStart;
    const char* text;    // a part of the text report
    std::function<void(const json&)> check = [](const json&) {};
};

std::function<void(const fs::path&)> Package(std::vector<FwuMember> members) {
    return [members](const fs::path& path) { WriteFwu(path, members); };
}

const json& Image(const json& report, std::string_view file) {
    for (const auto& image : report["images"])
        if (image["file"] == file) return image;
    throw std::runtime_error("no image " + std::string(file));
}

std::vector<Row> Rows() {
    auto brokenHex = Demo(kDemoVk101);
    BreakChecksum(Member(brokenHex, "pic_USB.hex").bytes, 5);
    auto segmentCan = Demo(kDemoUlmo);
    std::string& can = Member(segmentCan, "ulmo_can.hex").bytes;
    can.insert(can.size() - std::string(":00000001FF\r\n").size(), ":020000021000EC\r\n");
    auto bigUsb = Demo(kDemoVelkaro);
    Member(bigUsb, "USB.bin").bytes.assign(65537, 'x');
    auto noHv = Demo(kDemoZenara);
    std::erase_if(noHv, [](const FwuMember& m) { return m.name == "PIC_HV.hex"; });
    auto otherType = Demo(kDemoVk101);
    Member(otherType, "Bootload.ini").bytes = ManifestText(9);
    auto noManifest = Demo(kDemoVk101);
    noManifest.erase(noManifest.begin());
    const std::string hex = Member(brokenHex, "pic_USB.hex").bytes;
    const std::string badCrc = BuildRawZip({{.name = "Bootload.ini", .data = ManifestText(4)},
                                            {.name = "pic_USB.hex", .data = hex, .crc = 0x12345678}});

    return {
        {"VK101", Package(Demo(kDemoVk101)), 0, "VK101 Power Controller", true,
         "pic_USB.hex: 2048 data records at 0x0000-0x7FFF; 30720 bytes into the 30720-byte image from 0x0800",
         [](const json& r) {
             const json& image = Image(r, "pic_USB.hex");
             EXPECT_EQ(image["ranges"], json::parse(R"([{"first": 0, "last": 32767}])"));
             EXPECT_EQ(std::tuple(image["imageBytes"], image["droppedBytes"], image["end"]),
                       std::tuple(30720, 0, "end-of-file record"));
             EXPECT_EQ(r["manifest"]["DeviceType"], 4);
         }},
        {"IRIG clock", Package(Demo(kDemoIrig)), 0, "IRIG Clock", true, "fpga.hex: 4093 blocks of 32 bytes",
         [](const json& r) { EXPECT_EQ(Image(r, "fpga.hex")["blocks"], 4093); }},
        {"ULMO", Package(Demo(kDemoUlmo)), 0, "ULMO", true,
         "ulmo_can.hex: 4096 data records at 0x0000-0xFFFF; 64000 bytes into the 64000-byte image from 0x0600",
         [](const json& r) { EXPECT_EQ(Image(r, "ulmo_can.hex")["overrunBytes"], 0); }},
        {"Velkaro USB", Package(Demo(kDemoVelkaro)), 0, "Velkaro USB", true, "USB.bin: 8192 bytes (at most 65536)",
         [](const json& r) {
             EXPECT_EQ(Image(r, "fpga.bin")["size"], 131072);
             EXPECT_EQ(r["manifest"]["Settings"], json::parse(R"({"FPGABitSwap": false, "FPGAPowerON": true})"));
         }},
        {"Zenara", Package(Demo(kDemoZenara)), 0, "VKUSB Zenara - Modules", true,
         "PIC_STG.hex (module type BR): 2144 data records at 0x0000-0x85FF; 32768 bytes into the 32768-byte image",
         [](const json& r) {
             EXPECT_EQ(r["images"].size(), 6u);
             EXPECT_EQ(std::tuple(Image(r, "PIC_STG.hex")["moduleType"], Image(r, "PIC_STG.hex")["capacity"]),
                       std::tuple("BR", 32768));
         }},
        {"damaged HEX", Package(brokenHex), 0, "VK101 Power Controller", false,
         "pic_USB.hex: refused at line 5: checksum does not match",
         [](const json& r) {
             EXPECT_EQ(std::tuple(Image(r, "pic_USB.hex")["line"], Image(r, "pic_USB.hex")["refusal"]),
                       std::tuple(5, "checksum does not match"));
             EXPECT_EQ(r["verdict"], "pic_USB.hex is refused");
         }},
        {"CAN image ended by a segment record", Package(segmentCan), 0, "ULMO", false,
         "ulmo_can.hex: refused: segment record, the CAN image is not sent"},
        {"USB.bin too large", Package(bigUsb), 0, "Velkaro USB", false,
         "USB.bin: refused: larger than the 65536 bytes its memory takes"},
        {"Zenara without one module image", Package(noHv), 0, "VKUSB Zenara - Modules", true,
         "PIC_HV.hex (module type HV): missing",
         [](const json& r) { EXPECT_THAT(r["verdict"].get<std::string>(), HasSubstr("module type HV:")); }},
        {"DeviceType of no family", Package(otherType), 5, nullptr, false, "no family takes DeviceType 9"},
        {"no manifest", Package(noManifest), 5, nullptr, false, "Manifest: missing"},
        {"missing file", [](const fs::path&) {}, 3, nullptr, false, "Not readable: the file does not exist",
         [](const json& r) { EXPECT_TRUE(r["members"].empty()); }},
        {"member with a wrong CRC", [badCrc](const fs::path& path) { WriteFileBytes(path, badCrc); }, 3, nullptr, false,
         "pic_USB.hex: ",
         [](const json& r) {
             EXPECT_EQ(r["members"][0]["state"], "ok");
             EXPECT_THAT(r["members"][1]["state"].get<std::string>(), HasSubstr("CRC error"));
             EXPECT_EQ(r["members"][1]["crc"], "12345678");
             EXPECT_TRUE(r["manifest"].is_null());
         }},
    };
}

TEST(Inspect, ReportsWhatAnUpgradeWouldFind) {
    TempDir dir;
    // The scratch work folder goes under the temporary folder; this one is watched.
    const fs::path temporary = dir.path() / "tmp";
    fs::create_directory(temporary);
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    const fs::path program = dir.path() / "program";
    fs::create_directory(program);

    int n = 0;
    for (const Row& row : Rows()) {
        const fs::path package = dir.path() / ("p" + std::to_string(++n) + ".fwu");
        row.write(package);
        const CliOutcome text = RunCliIn(program, {"--inspect", package.string()});
        EXPECT_EQ(text.status, row.status) << row.what << '\n' << text.out;
        EXPECT_THAT(text.out, HasSubstr(row.text)) << row.what;
        EXPECT_THAT(text.out, HasSubstr(row.wouldStart ? "An upgrade would start" : "An upgrade would not start"))
            << row.what;

        const CliOutcome machine = RunCliIn(program, {"--json", "--inspect=" + package.string()});
        EXPECT_EQ(machine.status, row.status) << row.what;
        const json report = json::parse(machine.out);
        EXPECT_EQ(report["package"], package.string()) << row.what;
        EXPECT_EQ(report["family"], row.family ? json(row.family) : json()) << row.what;
        EXPECT_EQ(report["upgradeWouldStart"], row.wouldStart) << row.what;
        if (row.status == 0 && row.wouldStart) {
            for (const auto& member : report["members"]) EXPECT_EQ(member["state"], "ok") << row.what;
        }
        row.check(report);

        // Nothing was opened, nothing left: no work folder beside the program, no scratch folder.
        EXPECT_TRUE(fs::is_empty(program)) << row.what;
        EXPECT_TRUE(fs::is_empty(temporary)) << row.what;
    }
    if (oldTmp)
        setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

}  // namespace
}  // namespace rovenza
