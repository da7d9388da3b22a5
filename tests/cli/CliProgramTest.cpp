// The real rovenza-cli program: its progress on a terminal and on a pipe, --quiet and
// --verbose, the --json stream, the exit status and reason of every kind of result, and Ctrl-C.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ProgramRun.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

class CliProgramTest : public ::testing::Test {
protected:
    TempDir dir;

    ProgramResult Run(std::vector<std::string> args, const ProgramRunOptions& options = {}) {
        args.insert(args.begin(), {"--program-folder", dir.path().string()});
        return RunProgram(args, options);
    }
    std::string Package(std::string_view demo, const std::string& name) {
        return Package(*DemoPackageMembers(demo), name);
    }
    std::string Package(const std::vector<FwuMember>& members, const std::string& name) {
        const auto path = dir.path() / name;
        WriteFwu(path, members);
        return path.string();
    }
    std::string Bench(const std::string& name, const std::string& json) {
        const auto path = dir.path() / name;
        std::ofstream(path) << json;
        return "--simulate=" + path.string();
    }
    // The VK101 package whose pic_USB.hex has a wrong checksum on `line` (from 1).
    std::string PackageWithBadChecksum(std::size_t line) {
        auto members = *DemoPackageMembers(kDemoVk101);
        for (auto& member : members) {
            if (member.name != "pic_USB.hex") continue;
            std::size_t at = 0;
            for (std::size_t n = 1; n < line; ++n) at = member.bytes.find('\n', at) + 1;
            const std::size_t end = member.bytes.find_first_of("\r\n", at);
            member.bytes[end - 1] = member.bytes[end - 1] == '0' ? '1' : '0';
        }
        return Package(members, "checksum.fwu");
    }
    std::vector<std::string> Vk101(const std::string& package) {
        return {"\\D", "VK101 Power Controller", "\\F", package, "\\U"};
    }
};

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> events;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_NO_THROW(events.push_back(Json::parse(line))) << line;
    }
    return events;
}

std::vector<Json> Events(const std::vector<Json>& events, const std::string& name) {
    std::vector<Json> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const Json& e) { return e.value("event", "") == name; });
    return found;
}

TEST_F(CliProgramTest, ProgressRedrawsOneLineOnATerminal) {
    auto args = Vk101(Package(kDemoVk101, "vk101.fwu"));
    args.insert(args.begin(), {"--simulate", "--speed", "25"});
    ProgramRunOptions terminal;
    terminal.terminal = true;
    terminal.columns = 70;
    const auto run = Run(args, terminal);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Firmware upgrade successful!\n");
    // One line, redrawn after a carriage return, ended once (the terminal shows "\r\n").
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    std::vector<std::string> draws;
    std::istringstream in(run.err);
    for (std::string draw; std::getline(in, draw, '\r');)
        if (!draw.empty() && draw != "\n") draws.push_back(draw);
    ASSERT_GE(draws.size(), 5u) << run.err;
    for (const auto& draw : draws) EXPECT_LE(draw.size(), 69u) << draw;  // never wraps
    EXPECT_THAT(run.err, ::testing::ContainsRegex("PC000001: Uploading  \\[#+\\.+\\]  [0-9]+%  0:0[0-9]"));
}

TEST_F(CliProgramTest, PlainLinesQuietAndVerbose) {
    const auto package = Package(kDemoVk101, "vk101.fwu");
    auto args = Vk101(package);
    args.insert(args.begin(), "--simulate");

    const auto plain = Run(args);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "Firmware upgrade successful!\n");
    std::istringstream lines(plain.err);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_THAT(line, ::testing::MatchesRegex("\\[[0-9]+:[0-9][0-9]\\] PC000001: Uploading\\.\\.\\.( \\([0-9]+%\\))?"));
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 11);  // the stage, then one line per 10 %
    EXPECT_TRUE(std::none_of(plain.err.begin(), plain.err.end(), [](char c) { return c != '\n' && c < 0x20; }));

    args.push_back("--quiet");
    const auto quiet = Run(args);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "Firmware upgrade successful!\n");
    EXPECT_EQ(quiet.err, "");

    // The refusal of an image is a diagnostic: shown in the program's voice with --verbose only.
    auto refused = Vk101(PackageWithBadChecksum(301));
    refused.insert(refused.begin(), "--simulate");
    const auto silent = Run(refused);
    refused.push_back("--verbose");
    const auto verbose = Run(refused);
    for (const auto* run : {&silent, &verbose}) {
        EXPECT_EQ(run->status, 3);
        EXPECT_EQ(run->out, "Error - EXCEPTION\n");
        EXPECT_THAT(run->err, HasSubstr("rovenza-cli: pic_USB.hex line 301: checksum does not match\n"));
        EXPECT_THAT(run->err, Not(HasSubstr("[debug]")));
    }
    EXPECT_THAT(silent.err, Not(HasSubstr("Intel HEX file")));
    EXPECT_THAT(verbose.err, ::testing::ContainsRegex("(^|\n)rovenza-cli: Intel HEX file .*pic_USB.hex, line 301: checksum"));
}

TEST_F(CliProgramTest, JsonStreamOfASuccessAFailureAndSeveralInstruments) {
    const auto vk101 = Package(kDemoVk101, "vk101.fwu");
    auto args = Vk101(vk101);
    args.insert(args.begin(), {"--simulate", "--json"});
    const auto success = Run(args);
    EXPECT_EQ(success.status, 0);
    EXPECT_EQ(success.err, "");
    const auto events = JsonLines(success.out);
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front(), Json::parse(R"({"event":"start","program":"rovenza-cli","version":"5.4",
        "family":"VK101 Power Controller","package":")" + vk101 + "\"}"));
    const auto instruments = Events(events, "instrument");
    ASSERT_EQ(instruments.size(), 1u);
    EXPECT_EQ(instruments[0]["serial"], "PC000001");
    EXPECT_THAT(instruments[0]["path"].get<std::string>(), HasSubstr("#PC000001#"));
    EXPECT_EQ(Events(events, "stage").at(0)["stage"], "Uploading");
    for (const auto& progress : Events(events, "progress")) {
        EXPECT_EQ(progress["total"], 963);
        EXPECT_GE(progress["percent"].get<int>(), 0);
        EXPECT_LE(progress["percent"].get<int>(), 99);
        EXPECT_LE(progress["done"].get<int>(), 963);
    }
    EXPECT_EQ(events.back(), Json::parse(R"({"event":"result","message":"Firmware upgrade successful!",
        "kind":"success","exit":0,"reason":null,"fault":null})"));

    const auto failing = Bench("erase.json", R"({ "instruments": [ { "family": "VK101 Power Controller",
        "serial": "PC000009", "faults": [ { "request": "ERASE_FLASH", "occurrence": 3, "action": "fail", "code": 31 } ] } ] })");
    args = Vk101(vk101);
    args.insert(args.begin(), {failing, "--json"});
    const auto failure = JsonLines(Run(args).out);
    ASSERT_FALSE(failure.empty());
    EXPECT_EQ(failure.back()["message"], "Error: \n\rERASE_FLASH\n\rWriteDataToUSBPic");
    EXPECT_EQ(failure.back()["kind"], "conversation");
    EXPECT_EQ(failure.back()["exit"], 6);
    EXPECT_EQ(failure.back()["reason"], "instrument PC000009: ERASE_FLASH failed at row 5 of 960 (error 31)");

    const auto three = Bench("three.json", R"({ "instruments": [ { "family": "Velkaro USB", "serial": "TV000001" },
        { "family": "Velkaro USB", "serial": "TV000002" }, { "family": "Velkaro USB", "serial": "TV000003" } ] })");
    const auto several = JsonLines(
        Run({three, "--json", "\\D", "Velkaro USB", "\\F", Package(kDemoVelkaro, "velkaro.fwu"), "\\U"}).out);
    std::vector<std::string> serials, stages;
    for (const auto& e : Events(several, "instrument")) serials.push_back(e["serial"]);
    for (const auto& e : Events(several, "stage")) stages.push_back(e["stage"]);
    EXPECT_THAT(serials, ::testing::ElementsAre("TV000001", "TV000002", "TV000003"));
    EXPECT_THAT(stages, ::testing::ElementsAre("Device 1/3 - USB Pic uploading", "Device 1/3 - FPGA uploading",
                                               "Device 2/3 - USB Pic uploading", "Device 2/3 - FPGA uploading",
                                               "Device 3/3 - USB Pic uploading", "Device 3/3 - FPGA uploading"));
    EXPECT_EQ(several.back()["exit"], 0);
}

// Every kind of result: its exit status, the final message as the window words it, and the
// reason on standard error.
TEST_F(CliProgramTest, ExitStatusAndReasonOfEveryKind) {
    const auto vk101 = Package(kDemoVk101, "vk101.fwu");
    std::ofstream(dir.path() / "junk.fwu") << "This is not an archive.";
    std::filesystem::create_directory(dir.path() / "folder.fwu");
    std::ofstream(dir.path() / "plain-file") << "";
    const auto never = Bench("never.json", R"({ "instruments": [ { "family": "VK101 Power Controller",
        "serial": "PC000007", "faults": [ { "request": "reappear", "action": "never" } ] } ] })");
    const std::string vk = "VK101 Power Controller";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string reason;  // the line on standard error after the program's name
    } rows[] = {
        {{"--simulate", "\\D", vk, "\\F", vk101, "\\U"}, 0, "Firmware upgrade successful!\n", ""},
        {{"--simulate", "--bogus"}, 2, "", "unknown argument \"--bogus\""},
        {{"--simulate", "\\D", vk, "\\F", (dir.path() / "none.fwu").string(), "\\U"}, 3,
         "The FWU file does not exist.\n", "none.fwu: no such file"},
        {{"--simulate", "\\D", vk, "\\F", (dir.path() / "junk.fwu").string(), "\\U"}, 3,
         "The FWU file does not exist.\n", "junk.fwu: not a zip archive"},
        {{"--simulate", "\\D", vk, "\\F", (dir.path() / "folder.fwu").string(), "\\U"}, 3,
         "The FWU file does not exist.\n", "folder.fwu: is a folder"},
        {{"--program-folder", (dir.path() / "plain-file" / "sub").string(), "--simulate", "\\D", vk, "\\F", vk101, "\\U"},
         3, "The FWU file does not exist.\n",
         (dir.path() / "plain-file" / "sub" / "Temp").string() + ": cannot create the work folder: not a directory"},
        {{"--simulate", "\\D", vk, "\\F", PackageWithBadChecksum(12), "\\U"}, 3, "Error - EXCEPTION\n",
         "pic_USB.hex line 12: checksum does not match"},
        {{"--simulate", "\\D", "Velkaro USB", "\\F", vk101, "\\U"}, 3, "Corrupted file\n",
         "USB.bin: missing from the package, which is for VK101 Power Controller"},
        {{"\\D", vk, "\\F", vk101, "\\U"}, 4, "Instrument is not connected.\n", "no VK101 Power Controller instrument found"},
        {{"--simulate", "\\D", "VKUSB Zenara - Modules", "\\F", vk101, "\\U"}, 5,
         "Instrument or FWU file is not Zenara Module!\n",
         "vk101.fwu: a package for VK101 Power Controller, not for VKUSB Zenara - Modules (device type 5)"},
        {{never, "\\D", vk, "\\F", vk101, "\\U"}, 6, "Error: \n\rGoBootLoad\n",
         "instrument PC000007 did not come back in its boot loader within 21 tries"},
        {{"--simulate", "--bench-dump", (dir.path() / "plain-file" / "dump").string(), "\\D", vk, "\\F", vk101, "\\U"},
         8, "", (dir.path() / "plain-file" / "dump").string() + ": cannot create the dump folder: not a directory"},
        {{"--simulate", "--trace", (dir.path() / "plain-file" / "trace.txt").string(), "\\D", vk, "\\F", vk101, "\\U"},
         8, "", (dir.path() / "plain-file" / "trace.txt").string() + ": cannot write the trace file: not a directory"},
    };
    for (const auto& row : rows) {
        const auto run = Run(row.args);
        const std::string what = ::testing::PrintToString(row.args);
        EXPECT_EQ(run.status, row.status) << what << run.err;
        EXPECT_EQ(run.out, row.out) << what;
        if (row.reason.empty()) {
            EXPECT_THAT(run.err, Not(HasSubstr("rovenza-cli: "))) << what;
        } else {
            EXPECT_THAT(run.err, HasSubstr("rovenza-cli: " + row.reason + "\n")) << what;
        }
        // One voice: every line of standard error but the progress lines is the program's own.
        std::istringstream lines(run.err);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Try ", 0) != 0 && line.rfind("[", 0) != 0) {
                EXPECT_THAT(line, ::testing::StartsWith("rovenza-cli: ")) << what;
            }
        }
    }
}

// Ctrl-C on a run that lasts: it stops at the next safe point, closes the trace on a whole line,
// writes the bench dump and ends "Interrupted" with status 7.
TEST_F(CliProgramTest, InterruptStopsBetweenRows) {
    const auto dump = dir.path() / "dump";
    const auto trace = dir.path() / "trace.txt";
    auto args = Vk101(Package(kDemoVk101, "vk101.fwu"));
    args.insert(args.begin(), {"--simulate", "--speed", "8", "--bench-dump", dump.string(), "--trace", trace.string()});
    ProgramRunOptions options;
    // The second progress line: the rows are being written.
    options.interruptWhen = [](const std::string& err) { return std::count(err.begin(), err.end(), '\n') >= 2; };
    const auto run = Run(args, options);
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_EQ(run.out, "Interrupted\n");
    EXPECT_THAT(run.err, HasSubstr("rovenza-cli: interrupted: the upgrade stops at its next point"));
    EXPECT_THAT(run.err, ::testing::ContainsRegex(
                             "rovenza-cli: stopped after row [0-9]+ of 960 of instrument PC000001's program memory"));
    EXPECT_TRUE(std::filesystem::exists(dump / "requests.log"));
    EXPECT_EQ(std::filesystem::file_size(dump / "PC000001" / "program.bin"), 32768u);
    std::ifstream in(trace, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

// A long restart on a terminal: the line says that it waits and keeps its time moving; Ctrl-C
// during the wait stops the run there.
TEST_F(CliProgramTest, WaitOnTheInstrumentThenInterruptOnATerminal) {
    const auto slow = Bench("slow.json", R"({ "instruments": [ { "family": "VK101 Power Controller",
        "serial": "PC000001", "restartMs": 12000 } ] })");
    auto args = Vk101(Package(kDemoVk101, "vk101.fwu"));
    args.insert(args.begin(), {slow, "--speed", "8"});
    ProgramRunOptions options;
    options.terminal = true;
    options.interruptWhen = [](const std::string& err) { return err.find("waiting for the instrument 1 s") != std::string::npos; };
    const auto run = Run(args, options);
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_EQ(run.out, "Interrupted\n");
    EXPECT_THAT(run.err, ::testing::ContainsRegex("PC000001: Uploading  \\[\\.+\\]   0%  0:0[1-9]  waiting for the instrument 1 s"));
    EXPECT_THAT(run.err, HasSubstr("rovenza-cli: stopped while instrument PC000001 was on its way into its boot loader"));
}

}  // namespace
}  // namespace rovenza
