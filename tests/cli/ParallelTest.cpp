// --parallel: three Velkaro USB instruments upgraded at once through the command line, one of
// them failing. The others still hold the new images, nothing reaches the failed one after its
// fault, and the final message and exit status are those of the same bench upgraded one
// instrument after another.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "CliRunner.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

const std::vector<std::string> kSerials{"TV000001", "TV000002", "TV000003"};
// The demo package with the first 4 KiB of its flash image, to keep the many runs quick.
constexpr std::size_t kFlashBytes = 4096;

std::vector<std::uint8_t> FlashImage() {
    auto image = DemoFlashImage();
    image.resize(kFlashBytes);
    return image;
}

std::vector<std::uint8_t> Bytes(const std::filesystem::path& file) {
    const std::string text = FileText(file);
    return {text.begin(), text.end()};
}

// The instruments' memories as the dump shows them: the package's images (the identity record
// is the instrument's own) and the FPGA switched on again.
bool HoldsTheImages(const std::filesystem::path& dump, const std::string& serial) {
    const auto usb = DemoEepromImage();
    const auto eeprom = Bytes(dump / serial / "eeprom.bin");
    const bool eepromNew = eeprom.size() >= usb.size() && std::equal(usb.begin(), usb.begin() + 0x1E00, eeprom.begin()) &&
                           std::equal(usb.begin() + 0x1E14, usb.end(), eeprom.begin() + 0x1E14);
    return eepromNew && Bytes(dump / serial / "fpga.bin") == FlashImage() &&
           FileText(dump / serial / "state.txt").find("fpgaPower=1") != std::string::npos;
}

// The requests.log lines of the instrument `serial`, split into their columns.
std::vector<std::vector<std::string>> LogOf(const std::filesystem::path& dump, const std::string& serial) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream log(FileText(dump / "requests.log"));
    for (std::string line; std::getline(log, line);) {
        if (line.find("#" + serial + "#") == std::string::npos) continue;
        std::vector<std::string> columns;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) columns.push_back(field);
        lines.push_back(columns);
    }
    return lines;
}

std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class ParallelTest : public ::testing::Test {
protected:
    TempDir dir;
    int runs = 0;

    std::string Package() {
        const auto path = dir.path() / "velkaro.fwu";
        if (!std::filesystem::exists(path)) {
            auto members = *DemoPackageMembers(kDemoVelkaro);
            for (auto& member : members)
                if (member.name == "fpga.bin") member.bytes.resize(kFlashBytes);
            WriteFwu(path, members);
        }
        return path.string();
    }
    // Three instruments, `fault` (a bench file's fault rule) on the one at `faulty` (-1: none).
    std::string Bench(int faulty, const std::string& fault) {
        std::string json = R"({ "instruments": [)";
        for (std::size_t i = 0; i < kSerials.size(); ++i) {
            json += std::string(i ? "," : "") + R"({ "family": "Velkaro USB", "serial": ")" + kSerials[i] + "\"";
            if (static_cast<int>(i) == faulty) json += R"(, "faults": [ )" + fault + " ]";
            json += "}";
        }
        const auto path = dir.path() / ("bench" + std::to_string(++runs) + ".json");
        std::ofstream(path) << json << "] }";
        return "--simulate=" + path.string();
    }
    // Upgrades the bench, one after another or at once; the dump goes to the folder returned.
    std::pair<CliOutcome, std::filesystem::path> Upgrade(const std::string& bench, bool parallel,
                                                        std::vector<std::string> more = {}) {
        const auto dump = dir.path() / ("dump" + std::to_string(++runs));
        std::vector<std::string> args{bench, "--bench-dump", dump.string(), "\\D", "Velkaro USB", "\\F", Package(), "\\U"};
        if (parallel) args.push_back("--parallel");
        args.insert(args.end(), more.begin(), more.end());
        return {RunCliIn(dir.path(), args), dump};
    }
};

TEST_F(ParallelTest, AFaultOnOneInstrumentLeavesTheOthersUpgraded) {
    const struct {
        const char* stage;
        std::string fault;
        std::string message;
        bool eepromWritten;  // the failed instrument's EEPROM holds the new image
    } stages[] = {
        {"eeprom", R"({ "request": "MEM_WRITE", "occurrence": 3, "action": "fail" })", "Error: \x0A\x0D" "EEPROM Write", false},
        {"flash", R"({ "request": "FLASH_WRITE", "occurrence": 5, "action": "fail" })", "Error: \x0A\x0D" "FLASH Write", true},
        {"power-off", R"({ "request": "FPGA_POWER", "occurrence": 1, "action": "fail" })", "Error: FPGA Power Off", false},
    };
    for (const auto& stage : stages) {
        for (int faulty = 0; faulty < 3; ++faulty) {
            SCOPED_TRACE(std::string(stage.stage) + " fault on " + kSerials[static_cast<std::size_t>(faulty)]);
            const std::string bench = Bench(faulty, stage.fault);
            const auto [inOrder, inOrderDump] = Upgrade(bench, false);
            const auto [atOnce, dump] = Upgrade(bench, true);
            EXPECT_EQ(atOnce.out, stage.message + "\n");
            EXPECT_EQ(std::tuple(atOnce.status, atOnce.out), std::tuple(inOrder.status, inOrder.out));
            // The reason, the last line, names the failed instrument and its fault.
            EXPECT_EQ(LastLine(atOnce.err), LastLine(inOrder.err));
            for (std::size_t i = 0; i < kSerials.size(); ++i) {
                if (static_cast<int>(i) == faulty) continue;
                EXPECT_TRUE(HoldsTheImages(dump, kSerials[i])) << kSerials[i];
            }
            const std::string& failed = kSerials[static_cast<std::size_t>(faulty)];
            EXPECT_FALSE(HoldsTheImages(dump, failed));
            const auto usb = DemoEepromImage();
            const auto eeprom = Bytes(dump / failed / "eeprom.bin");
            EXPECT_EQ(std::equal(usb.begin(), usb.begin() + 0x1E00, eeprom.begin()), stage.eepromWritten);
            // After its failed request the failed instrument only has its handle closed.
            const auto log = LogOf(dump, failed);
            const auto fault = std::find_if(log.begin(), log.end(), [](const auto& l) { return l.at(6) != "0"; });
            ASSERT_NE(fault, log.end());
            std::vector<std::string> after;
            for (auto line = fault + 1; line != log.end(); ++line) after.push_back(line->at(2));
            EXPECT_THAT(after, ElementsAre("close2"));
        }
    }
}

// Each instrument's stage and progress events name it by serial number and place; the run's
// events keep their shape.
TEST_F(ParallelTest, JsonEventsNameEachInstrument) {
    const auto [run, dump] = Upgrade(Bench(-1, ""), true, {"--json"});
    EXPECT_EQ(run.status, 0) << run.out;
    std::map<std::string, std::vector<std::string>> stages;
    std::set<std::string> progressOf;
    std::istringstream lines(run.out);
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
    for (const auto& event : events) {
        const std::string name = event.at("event");
        if (name != "stage" && name != "progress") {
            EXPECT_FALSE(event.contains("serial") && name != "instrument") << event;
            continue;
        }
        const std::string serial = event.at("serial");
        const int index = event.at("index");
        ASSERT_GE(index, 1);
        ASSERT_LE(index, 3);
        EXPECT_EQ(serial, kSerials[static_cast<std::size_t>(index - 1)]);
        EXPECT_EQ(event.at("stage").get<std::string>().rfind("Device " + std::to_string(index) + "/3 - ", 0), 0u) << event;
        if (name == "stage") stages[serial].push_back(event.at("stage"));
        if (name == "progress") progressOf.insert(serial);
    }
    for (std::size_t i = 0; i < kSerials.size(); ++i) {
        const std::string prefix = "Device " + std::to_string(i + 1) + "/3 - ";
        EXPECT_THAT(stages[kSerials[i]], ElementsAre(prefix + "USB Pic uploading", prefix + "FPGA uploading"));
        EXPECT_TRUE(HoldsTheImages(dump, kSerials[i]));
    }
    EXPECT_EQ(progressOf.size(), 3u);
    EXPECT_EQ(events.back().at("message"), "Firmware upgrade successful!");
}

}  // namespace
}  // namespace rovenza
