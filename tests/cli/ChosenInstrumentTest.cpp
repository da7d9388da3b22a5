// The command line on benches of several first-generation instruments: --select names the one
// to upgrade, and a dump's bench.json carries a broken run's instruments into the next run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "CliRunner.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class ChosenInstrumentTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path package = dir.path() / "vk101.fwu";
    void SetUp() override { WriteFwu(package, *DemoPackageMembers(kDemoVk101)); }
    fs::path Bench(const std::string& name, const std::string& instruments) {
        const fs::path file = dir.path() / name;
        std::ofstream(file) << R"({ "instruments": [ )" << instruments << " ] }";
        return file;
    }
    CliOutcome Upgrade(const fs::path& bench, const fs::path& dump, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--simulate=" + bench.string(), "--bench-dump", dump.string(),
                                      "\\D",          "VK101 Power Controller", "\\F", package.string(), "\\U"};
        args.insert(args.end(), more.begin(), more.end());
        return RunCliIn(dir.path(), args);
    }
    // Whether the dumped program memory holds the demo image above the boot block.
    static bool HoldsTheImage(const fs::path& program) {
        const std::string bytes = FileText(program);
        const auto image = DemoUsbPicImage();
        return bytes.size() == image.size() &&
               std::equal(image.begin() + 0x800, image.end(), bytes.begin() + 0x800,
                          [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    }
};

TEST_F(ChosenInstrumentTest, SelectUpgradesTheNamedFirstGenerationInstrumentOnly) {
    const struct {
        const char* modes[2];  // PC000001's and PC000002's
        const char* select;
        const char* chosen;
    } rows[] = {
        {{"firmware", "firmware"}, "PC000002", "PC000002"},
        {{"firmware", "firmware"}, "pc000001", "PC000001"},
        // The fixed device path would reach PC000001 first: the boot loader is opened by its own.
        {{"firmware", "bootloader"}, "PC000002", "PC000002"},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string tag = std::to_string(++n);
        const fs::path bench = Bench("two" + tag + ".json",
                                     std::string(R"({ "family": "VK101 Power Controller", "serial": "PC000001", "mode": ")") +
                                         row.modes[0] + R"(" }, { "family": "VK101 Power Controller", "serial": "PC000002", "mode": ")" +
                                         row.modes[1] + R"(" })");
        const fs::path before = dir.path() / ("before" + tag), after = dir.path() / ("after" + tag);
        ASSERT_EQ(RunCliIn(dir.path(), {"--simulate=" + bench.string(), "--bench-dump", before.string(), "--list"}).status, 0);
        const CliOutcome result = Upgrade(bench, after, {"--select", row.select});
        EXPECT_EQ(result.status, 0) << row.select << result.err;
        EXPECT_EQ(result.out, "Firmware upgrade successful!\n") << row.select;
        for (const char* serial : {"PC000001", "PC000002"}) {
            const bool chosen = std::string(serial) == row.chosen;
            EXPECT_EQ(HoldsTheImage(after / serial / "program.bin"), chosen) << row.select << ' ' << serial;
            if (chosen) {
                EXPECT_THAT(FileText(after / serial / "state.txt"), HasSubstr("mode=firmware"));
                continue;
            }
            for (const char* file : {"program.bin", "eeprom.bin", "state.txt"})
                EXPECT_EQ(FileText(after / serial / file), FileText(before / serial / file)) << row.select << ' ' << file;
        }
    }

    // A serial that is not attached, or two for a family that writes one instrument: bad usage
    // before any request.
    const fs::path bench = dir.path() / "two1.json";
    const CliOutcome unknown = Upgrade(bench, dir.path() / "unknown", {"--select", "PC000003"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("\"PC000003\" (attached: PC000001, PC000002)"));
    EXPECT_EQ(FileText(dir.path() / "unknown" / "requests.log"), "");
    const CliOutcome two = Upgrade(bench, dir.path() / "both", {"--select", "PC000001,PC000002"});
    EXPECT_EQ(two.status, 2);
    EXPECT_THAT(two.err, HasSubstr("one serial number"));
}

// Rehearsal: a run broken after the switch to the boot loader leaves a bench.json from which
// the next run starts with the instrument where the broken one left it, and recovers it.
TEST_F(ChosenInstrumentTest, ADumpsBenchFileContinuesABrokenRun) {
    const fs::path bench = Bench("broken.json", R"({ "family": "VK101 Power Controller", "serial": "PC000009",
        "faults": [ { "request": "WRITE_FLASH", "occurrence": 300, "action": "fail" } ] })");
    const fs::path dump = dir.path() / "dump";
    const CliOutcome broken = Upgrade(bench, dump);
    EXPECT_NE(broken.status, 0);
    EXPECT_THAT(broken.out, ::testing::StartsWith("Error: "));
    // Half written: neither the old firmware nor the new image.
    const std::string halfWritten = FileText(dump / "PC000009" / "program.bin");
    EXPECT_FALSE(HoldsTheImage(dump / "PC000009" / "program.bin"));

    const fs::path rehearsal = dump / "bench.json";
    const CliOutcome listed = RunCliIn(dir.path(), {"--simulate=" + rehearsal.string(), "--list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_THAT(listed.out, ::testing::ContainsRegex("\n-  +PC000009  +bootloader  +1  +\\\\\\\\\\?\\\\usb#vid_1234&pid_0dac#"));

    // The next run starts from the half-written memory (its dump is written over the first).
    const fs::path again = dir.path() / "again";
    RunCliIn(dir.path(), {"--simulate=" + rehearsal.string(), "--bench-dump", again.string(), "--list"});
    EXPECT_EQ(FileText(again / "PC000009" / "program.bin"), halfWritten);
    const CliOutcome recovered = Upgrade(rehearsal, dump);
    EXPECT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_EQ(recovered.out, "Firmware upgrade successful!\n");
    EXPECT_TRUE(HoldsTheImage(dump / "PC000009" / "program.bin"));
    EXPECT_THAT(FileText(dump / "PC000009" / "state.txt"), HasSubstr("mode=firmware"));
    EXPECT_THAT(FileText(rehearsal), HasSubstr("\"mode\": \"firmware\""));
}

}  // namespace
}  // namespace rovenza
