// The headless front end: options, exit status, progress and message, bench dump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CliOutput.h"
#include "CliRun.h"
#include "fwu/DemoPackage.h"
#include "frontend/World.h"
#include "fwu/FwuWriter.h"
#include "sim/SimulatedBench.h"
#include "support/RecordingPlatform.h"
#include "usb/VELKUSB_Const.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct CliResult {
    int status;
    std::string out;
    std::string err;
};

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliTest : public ::testing::Test {
protected:
    TempDir dir;
    int runs = 0;
    CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--program-folder", dir.path().string()});
        std::ostringstream out, err;
        const int status = RunCli(args, out, err);
        return {status, out.str(), err.str()};
    }
    std::string Vk101Package() {
        const auto path = dir.path() / "vk101.fwu";
        WriteFwu(path, *DemoPackageMembers(kDemoVk101));
        return path.string();
    }
    std::string VelkaroPackage() {
        const auto path = dir.path() / "velkaro.fwu";
        WriteFwu(path, *DemoPackageMembers(kDemoVelkaro));
        return path.string();
    }
};

TEST_F(CliTest, HelpVersionAndBadUsage) {
    EXPECT_EQ(Run({"--version"}).out, "rovenza-cli 5.4\n");
    const auto help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("\"VK101 Power Controller\""));
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "nothing to do"}, {{"--bogus"}, "unknown argument \"--bogus\""}, {{"\\D"}, "\\D needs a family name"},
        {{"\\D", "Toaster", "\\U"},
         "unknown instrument family \"Toaster\" (one of \"IRIG Clock\", \"ULMO\", \"Velkaro USB\", "
         "\"VK101 Power Controller\", \"VKUSB Zenara - Modules\")"},
        {{"--device=toaster", "\\U"}, "(one of \"IRIG Clock\""}, {{"\\F"}, "\\F needs a package file"},
        {{"--bench-dump", "x", "\\U"}, "--bench-dump needs --simulate"}, {{"--bench-dump"}, "--bench-dump needs a folder"},
        {{"--trace"}, "--trace needs a file"}, {{"--speed"}, "--speed needs a number"},
        {{"--program-folder"}, "--program-folder needs a folder"}, {{"--inspect"}, "--inspect needs a package file"},
        {{"\\U", "--choose"}, "--choose needs a value"}, {{"\\U", "--select"}, "--select needs a serial number"},
        {{"--simulate=", "\\U"}, "--simulate= needs a bench file"}, {{"--choose", "1,x", "\\U"}, "list of 1 and 0"},
        {{"--module-type", "\\U"}, ""}, {{"\\U", "--module-type"}, "--module-type needs a module type"},
        {{"--module-type", "7", "\\U"}, ""}, {{"--module-type", "0", "\\U"}, ""}, {{"--module-type=9=BR", "\\U"}, ""},
        {{"--module-type", "0=BR", "\\U"}, ""}, {{"--module-type", "Toaster", "\\U"}, ""},
        {{"--module-type", "2=", "\\U"}, ""}, {{"--module-type", "3=HV", "--module-type", "3=LV", "\\U"}, "contradicts"},
        {{"--parallel", "\\D", "ULMO", "\\U"},
         "--parallel upgrades several \"Velkaro USB\" instruments at once; it does not apply to \"ULMO\""}};
    for (const auto& [bad, complaint] : rows) {
        const auto result = Run(bad);
        EXPECT_EQ(result.status, 2) << ::testing::PrintToString(bad);
        EXPECT_THAT(result.err, StartsWith("rovenza-cli: ")) << ::testing::PrintToString(bad);
        EXPECT_THAT(result.err, HasSubstr(complaint)) << ::testing::PrintToString(bad);
    }
    const auto benchFile = dir.path() / "bad.json";
    std::ofstream(benchFile) << "{ \"instruments\": [ { \"family\": \"Toaster\" } ] }";
    EXPECT_EQ(Run({"--simulate=" + benchFile.string(), "--list"}).status, 2);
}

TEST_F(CliTest, ListShowsTheInstrumentsAsATableOrAsJson) {
    const struct {
        const char* family;
        const char* serial;
        int generation;
        const char* pid;
    } expected[] = {{"VK101 Power Controller", "PC000001", 1, "0DB0"}, {"IRIG Clock", "IC000001", 1, "0DAE"},
                    {"ULMO", "UL000001", 1, "0DAD"}, {"Velkaro USB", "TV000001", 2, "0E10"},
                    {"VKUSB Zenara - Modules", "ZN000001", 2, "0E11"}};
    const auto table = Run({"--simulate", "--list"});
    EXPECT_EQ(table.status, 0);
    // Columns stand two or more blanks apart.
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(table.out);
    for (std::string line; std::getline(lines, line);) {
        rows.emplace_back();
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t gap = std::min(line.find("  ", at), line.size());
            rows.back().push_back(line.substr(at, gap - at));
            at = line.find_first_not_of(' ', gap);
        }
    }
    ASSERT_EQ(rows.size(), 6u) << table.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"FAMILY", "SERIAL", "MODE", "GENERATION", "PATH"}));

    const auto json = Run({"--simulate", "--list", "--json"});
    EXPECT_EQ(json.status, 0);
    const nlohmann::json list = nlohmann::json::parse(json.out);
    ASSERT_EQ(list.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const auto& e = expected[i];
        std::string pid = e.pid;
        std::transform(pid.begin(), pid.end(), pid.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        const std::string path = "\\\\?\\usb#vid_1234&pid_" + pid + "#" + e.serial + "#";
        ASSERT_EQ(rows[i + 1].size(), 5u) << table.out;
        // Second-generation instruments show the serial of their identity record, as the
        // selection dialog does.
        EXPECT_EQ(std::vector<std::string>(rows[i + 1].begin(), rows[i + 1].end() - 1),
                  (std::vector<std::string>{e.family, e.serial, "firmware", std::to_string(e.generation)}));
        EXPECT_THAT(rows[i + 1].back(), StartsWith(path));
        EXPECT_EQ(list[i].size(), 6u) << list[i];
        EXPECT_EQ(std::tuple(list[i]["family"], list[i]["generation"], list[i]["pid"], list[i]["mode"], list[i]["serial"]),
                  std::tuple(e.family, e.generation, e.pid, "firmware", e.serial));
        EXPECT_EQ(list[i]["path"], rows[i + 1].back());
    }
    // Without the bench there is no instrument at all.
    const auto none = Run({"--list"});
    EXPECT_EQ(std::tuple(none.status, none.out), std::tuple(4, "No instruments found.\n"));
    const auto noneJson = Run({"--list", "--json"});
    EXPECT_EQ(std::tuple(noneJson.status, noneJson.out), std::tuple(4, "[]\n"));
}

TEST_F(CliTest, SimulatedUpgradeSucceedsWithProgressAndDump) {
    const auto dump = dir.path() / "dump";
    const auto result = Run({"--simulate", "--bench-dump", dump.string(), "\\D", "vk101 power controller", "\\F",
                             Vk101Package(), "\\C", "\\U"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Firmware upgrade successful!\n");
    ASSERT_TRUE(std::filesystem::exists(dump / "requests.log"));
    std::ifstream log(dump / "requests.log");
    std::string line;
    std::size_t lines = 0;
    while (std::getline(log, line)) {
        ++lines;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6) << line;
    }
    EXPECT_GT(lines, 4800u);
    const auto program = dump / "PC000001" / "program.bin";
    ASSERT_EQ(std::filesystem::file_size(program), 32768u);
    std::ifstream in(program, std::ios::binary);
    std::vector<char> bytes(32768);
    in.read(bytes.data(), 32768);
    const auto image = DemoUsbPicImage();
    EXPECT_TRUE(std::equal(image.begin() + 0x800, image.end(), bytes.begin() + 0x800,
                           [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
}

TEST_F(CliTest, ProgressLinesWhileTheUpgradeRuns) {
    // At speed 200 the upgrade's 25 s of protocol waits take about an eighth of a second.
    const auto result = Run({"--simulate", "--speed", "200", "\\D", "VK101 Power Controller", "\\F",
                             Vk101Package(), "\\U"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, ::testing::ContainsRegex("Uploading\\.\\.\\. \\([0-9]+%\\)\n"));
    EXPECT_EQ(Run({"--speed", "10", "--list"}).status, 2);
    EXPECT_EQ(Run({"--simulate", "--speed", "0", "--list"}).status, 2);
}

TEST_F(CliTest, FailuresExitByKind) {
    const auto missing = Run({"--simulate", "--device", "VK101 Power Controller", "--file",
                              (dir.path() / "none.fwu").string(), "--upload"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.out, "The FWU file does not exist.\n");

    const auto unplugged = Run({"\\D", "VK101 Power Controller", "\\F", Vk101Package(), "\\U"});
    EXPECT_EQ(unplugged.status, 4);
    EXPECT_EQ(unplugged.out, "Instrument is not connected.\n");

    // A package of another family is refused once the instruments are open.
    const auto wrongKind = Run({"--simulate", "\\D", "VKUSB Zenara - Modules", "\\F", Vk101Package(), "\\U"});
    EXPECT_EQ(wrongKind.status, 5);
    EXPECT_EQ(wrongKind.out, "Instrument or FWU file is not Zenara Module!\n");
    // A package without the Velkaro images is refused before anything is written.
    const auto corrupted = Run({"--simulate", "\\D", "Velkaro USB", "\\F", Vk101Package(), "\\U"});
    EXPECT_EQ(corrupted.status, 3);
    EXPECT_EQ(corrupted.out, "Corrupted file\n");

    const auto benchFile = dir.path() / "bench.json";
    std::ofstream(benchFile) << R"({ "instruments": [ { "family": "VK101 Power Controller", "serial": "PC000009",
        "faults": [ { "request": "ERASE_FLASH", "occurrence": 1, "action": "fail" } ] } ] })";
    const auto failed = Run({"--simulate=" + benchFile.string(), "\\D", "VK101 Power Controller", "\\F",
                             Vk101Package(), "\\U"});
    EXPECT_EQ(failed.status, 6);
    EXPECT_EQ(failed.out, "Error: \x0A\x0D" "ERASE_FLASH\x0A\x0D" "WriteDataToUSBPic\n");
}

// An interrupt that came before the run: it stops before any instrument is opened, the dump is
// still written, and the stream ends with the interrupted result.
TEST_F(CliTest, AnInterruptedRunEndsInterrupted) {
    const auto dump = dir.path() / "dump";
    std::atomic<bool> interrupt{true};
    std::vector<std::string> args{"--program-folder", dir.path().string(), "--simulate", "--json", "--bench-dump",
                                  dump.string(), "\\D", "VK101 Power Controller", "\\F", Vk101Package(), "\\U"};
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(args, out, err, {false, 80, &interrupt}), 7);
    std::vector<nlohmann::json> events;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1], nlohmann::json::parse(R"({"event":"interrupt","text":")" + std::string(kInterruptNotice) + "\"}"));
    EXPECT_EQ(events.back(), nlohmann::json::parse(R"({"event":"result","message":"Interrupted","kind":"interrupted",
        "exit":7,"reason":"stopped before any instrument was opened","fault":null})"));
    EXPECT_TRUE(std::filesystem::exists(dump / "PC000001" / "program.bin"));
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliTest, SelectChoosesSecondGenerationInstrumentsBySerial) {
    const auto benchFile = dir.path() / "three.json";
    std::ofstream(benchFile) << R"({ "instruments": [ { "family": "Velkaro USB", "serial": "TV000001" },
        { "family": "Velkaro USB", "serial": "TV000002" }, { "family": "Velkaro USB", "serial": "TV000003" } ] })";
    const std::string bench = "--simulate=" + benchFile.string();
    auto run = [&](std::vector<std::string> args) {
        const auto dump = dir.path() / ("dump" + std::to_string(++runs));
        args.insert(args.begin(), {bench, "--bench-dump", dump.string(), "\\D", "Velkaro USB", "\\F", VelkaroPackage()});
        const CliResult result = Run(args);
        std::ifstream log(dump / "requests.log");
        return std::pair(result, std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()));
    };

    const auto [two, twoLog] = run({"--select", "tv000001,VKUSB SN: TV000003", "\\U"});
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, "Firmware upgrade successful!\n");
    // The dump: the chosen instruments hold the images (the identity record kept), their FPGA
    // on; the one left out holds what it held.
    const auto dumped = dir.path() / "dump1";
    const auto usb = DemoEepromImage();
    const auto fpga = DemoFlashImage();
    for (const char* serial : {"TV000001", "TV000002", "TV000003"}) {
        const bool chosen = std::string(serial) != "TV000002";
        const auto eeprom = ReadFile(dumped / serial / "eeprom.bin");
        ASSERT_EQ(eeprom.size(), 65536u);
        EXPECT_EQ(std::equal(usb.begin(), usb.begin() + 0x1E00, eeprom.begin()), chosen) << serial;
        EXPECT_EQ(std::string(eeprom.begin() + 0x1E0A, eeprom.begin() + 0x1E12), serial);
        EXPECT_TRUE(std::equal(usb.begin() + 0x1E14, usb.end(), eeprom.begin() + 0x1E14) == chosen) << serial;
        EXPECT_EQ(ReadFile(dumped / serial / "fpga.bin") == fpga, chosen) << serial;
        std::ifstream state(dumped / serial / "state.txt");
        const std::string text{std::istreambuf_iterator<char>(state), std::istreambuf_iterator<char>()};
        EXPECT_THAT(text, HasSubstr("fpgaPower=1"));
    }

    // A serial that is not attached: bad usage, naming the attached ones, and no instrument
    // receives more than its mode and the identity read.
    const auto [unknown, unknownLog] = run({"--select", "TV000001,TV000009", "\\U"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("\"TV000009\" (attached: TV000001, TV000002, TV000003)"));
    EXPECT_EQ(unknown.out, "");
    std::istringstream lines(unknownLog);
    for (std::string line; std::getline(lines, line);)
        EXPECT_THAT(line, ::testing::ContainsRegex("\t(open2|close2|SET_MODE|MEM_READ)\t")) << line;

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--select", "TV000001", "--choose", "1,0,1", "\\U"}, {"--select", "", "\\U"}, {"--select"}}) {
        EXPECT_EQ(run(bad).first.status, 2) << ::testing::PrintToString(bad);
    }
}

// The module type dialog answered from the command line: a slot's own answer first, then the
// slot-less one; a slot left unanswered fails as if the dialog were closed.
TEST_F(CliTest, ModuleTypesAnsweredPerSlot) {
    const auto package = dir.path() / "zenara.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoZenara));
    const auto benchFile = dir.path() / "zenara.json";
    std::ofstream(benchFile) << R"({ "instruments": [ { "family": "VKUSB Zenara - Modules", "serial": "ZN000001",
        "modules": [ 0, 7, 200, "IEPE CNT", null, null, null, null ] } ] })";
    const auto dump = dir.path() / "dump";
    auto run = [&](std::vector<std::string> types) {
        std::vector<std::string> args{"--simulate=" + benchFile.string(), "--bench-dump", dump.string(), "\\D",
                                      "VKUSB Zenara - Modules", "\\F", package.string(), "\\U"};
        args.insert(args.end(), types.begin(), types.end());
        return Run(args);
    };
    const auto partly = run({"--module-type", "2=br", "--module-type=1=6"});
    EXPECT_EQ(partly.status, 6);
    EXPECT_EQ(partly.out, "Module 3, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!\n");
    const std::pair<int, int> expected[] = {{1, 6}, {2, 4}, {4, 5}};
    for (const auto& [slot, type] : expected) {
        const auto image = DemoModuleImage(type);
        const auto flash = ReadFile(dump / "ZN000001" / ("module" + std::to_string(slot) + ".bin"));
        ASSERT_GE(flash.size(), 0x600 + image.size() + 64) << slot;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x600)) << slot;
        EXPECT_TRUE(std::all_of(flash.begin() + 0x600 + static_cast<std::ptrdiff_t>(image.size()),
                                flash.begin() + 0x640 + static_cast<std::ptrdiff_t>(image.size()),
                                [](std::uint8_t b) { return b == 0; })) << slot;
    }
    const auto all = run({"--module-type", "HV", "--module-type", "2=BR"});
    EXPECT_EQ(all.out, "Module 5, Module 6, Module 7, Module 8 cannot be upgraded!\n");
    const auto hv = DemoModuleImage(3);
    const auto slot3 = ReadFile(dump / "ZN000001" / "module3.bin");
    ASSERT_GE(slot3.size(), 0x600 + hv.size());
    EXPECT_TRUE(std::equal(hv.begin(), hv.end(), slot3.begin() + 0x600));
}

TEST_F(CliTest, IrigClockAndUlmoEndToEnd) {
    const auto dump = dir.path() / "dump";
    for (const auto& [family, demo] : {std::pair{"IRIG Clock", kDemoIrig}, std::pair{"ULMO", kDemoUlmo}}) {
        const auto package = dir.path() / (std::string(demo) + ".fwu");
        WriteFwu(package, *DemoPackageMembers(demo));
        const auto result = Run({"--simulate", "--bench-dump", dump.string(), "\\D", family, "\\F",
                                 package.string(), "\\U"});
        EXPECT_EQ(result.status, 0) << family << result.err;
        EXPECT_EQ(result.out, "Firmware upgrade successful!\n");
    }
    // The last dump is the ULMO run's; the IRIG clock's store is still as the bench began.
    const auto can = ReadFile(dump / "UL000001" / "can.bin");
    const auto canImage = DemoCanImage();
    ASSERT_EQ(can.size(), 65536u);
    EXPECT_TRUE(std::equal(canImage.begin() + 0x600, canImage.end(), can.begin() + 0x600));

    const auto irigDump = dir.path() / "irig";
    const auto package = dir.path() / "irig.fwu";
    EXPECT_EQ(Run({"--simulate", "--bench-dump", irigDump.string(), "\\D", "IRIG Clock", "\\F", package.string(),
                   "\\U"}).status, 0);
    EXPECT_EQ(ReadFile(irigDump / "IC000001" / "fpga.bin"), DemoFpgaImage());
}

TEST_F(CliTest, CommandTrace) {
    const auto unwritable = dir.path() / "missing-folder" / "USBLog.txt";
    const auto refused = Run({"--simulate", "--trace", unwritable.string(), "\\D", "VK101 Power Controller", "\\F",
                              Vk101Package(), "\\U"});
    EXPECT_EQ(refused.status, 8);
    EXPECT_THAT(refused.err, HasSubstr("trace file"));
    EXPECT_EQ(refused.out, "");

    const auto trace = dir.path() / "USBLog.txt";
    const auto result = Run({"--simulate", "--trace", trace.string(), "\\D", "VK101 Power Controller", "\\F",
                             Vk101Package(), "\\U"});
    ASSERT_EQ(result.status, 0) << result.err;
    // The trace holds the lines since the last open: the boot loader's programming pass.
    std::ifstream in(trace, std::ios::binary);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r');
        lines.push_back(line.substr(0, line.size() - 1));
    }
    ASSERT_EQ(lines.size(), 2u * (480 + 960 + 960 + 2));
    EXPECT_EQ(lines[0], "WriteCmd: 8 ;t= 0 ms");
    EXPECT_EQ(lines[1], "ReadCmd 0 ;t= 0 ms; Bytes read: 1");
    EXPECT_EQ(lines.back(), "ReadCmd 0 ;t= 0 ms; Bytes read: 0");

    // The IRIG clock's last open is the FPGA stage's; its programming mode answers after 1.2 s.
    const auto irig = dir.path() / "irig.fwu";
    WriteFwu(irig, *DemoPackageMembers(kDemoIrig));
    ASSERT_EQ(Run({"--simulate", "--trace", trace.string(), "\\D", "IRIG Clock", "\\F", irig.string(), "\\U"}).status, 0);
    std::ifstream irigTrace(trace, std::ios::binary);
    std::string first, second;
    std::getline(irigTrace, first);
    std::getline(irigTrace, second);
    EXPECT_EQ(first, "WriteCmd: SET_TIME ;t= 0 ms\r");
    EXPECT_EQ(second, "ReadCmd SET_TIME ;t= 1200 ms; Bytes read: 6\r");
}

// A front end's bench keeps no requests: with a dump folder it streams requests.log as the run
// goes, so a run of millions of requests costs no memory.
TEST_F(CliTest, TheWorldStreamsTheRequestLogInsteadOfKeepingIt) {
    WorldOptions options;
    options.simulate = true;
    options.dumpDir = dir.path() / "dump";
    options.programFolder = dir.path();
    RecordingOperator op;
    World world(options, op);
    std::uint32_t error = 0;
    const Handle h = world.context().driver.open(std::string(kFixedDevicePath), kGenericWrite, kFileShareWrite, error);
    std::uint32_t returned = 0;
    const std::uint8_t header[8] = {1, 0, 0, 0, 10, 0, 0, 0};
    world.context().driver.ioControl(h, kIoctlRead, header, 8, nullptr, 0, returned, error);
    world.context().driver.close(h);
    EXPECT_TRUE(world.bench()->requests().empty());
    EXPECT_EQ(world.bench()->count(""), 3u);
    world.finish();
    std::ifstream log(options.dumpDir.value() / "requests.log");
    std::string line;
    std::size_t lines = 0;
    while (std::getline(log, line)) ++lines;
    EXPECT_EQ(lines, 3u);
}

}  // namespace
}  // namespace rovenza
