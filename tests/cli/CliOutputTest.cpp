// The rules behind the command line's output: the exit status by kind of result, the terminal
// line, when a run counts as waiting on its instrument, and JSON text of any bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "CliOutcome.h"
#include "CliOutput.h"
#include "CliUpgrade.h"
#include "JsonLine.h"

namespace rovenza {
namespace {

using std::chrono::milliseconds;

TEST(CliOutputTest, ExitStatusByKind) {
    const UpgradeReason package{ReasonKind::Package, "pic_USB.hex line 3: checksum does not match"};
    const UpgradeReason instrument{ReasonKind::Instrument, "instrument PC000001: ERASE_FLASH failed"};
    const struct {
        std::string message;
        std::optional<UpgradeReason> reason;
        bool stopped;
        CliExit exit;
        std::string_view kind;
    } rows[] = {
        {"Firmware upgrade successful!", std::nullopt, false, kExitSuccess, "success"},
        {"The FWU file does not exist.", package, false, kExitPackage, "package"},
        {"Corrupted file", package, false, kExitPackage, "package"},
        {"Instrument is not connected.", instrument, false, kExitNoInstrument, "no-instrument"},
        {"Instrument or FWU file is not ULMO!", package, false, kExitWrongFamily, "wrong-family"},
        {"Instrument or FWU file is not TERVA!", instrument, false, kExitWrongFamily, "wrong-family"},
        {"Error: \n\rERASE_FLASH", instrument, false, kExitConversation, "conversation"},
        {"Error: FPGA Power Off", instrument, false, kExitConversation, "conversation"},
        {"Error", std::nullopt, false, kExitConversation, "conversation"},
        {"Module 3, Module 5 cannot be upgraded!", instrument, false, kExitConversation, "conversation"},
        {"Device 1/2 - Module 1 cannot be upgraded!\nDevice 2/2 - Module 4 cannot be upgraded!", instrument, false,
         kExitConversation, "conversation"},
        // A refused image ends these runs with the family's failure text.
        {"Error - EXCEPTION", package, false, kExitPackage, "package"},
        {"Error: ", package, false, kExitPackage, "package"},
        {"Error: \n\rGoBootLoad", UpgradeReason{ReasonKind::Stopped, "stopped"}, true, kExitInterrupted, "interrupted"},
        {"Firmware upgrade successful!", std::nullopt, true, kExitInterrupted, "interrupted"},
        {"This family cannot be upgraded yet", std::nullopt, false, kExitOther, "other"},
    };
    for (const auto& row : rows) {
        const CliOutcome outcome = ClassifyRun(row.message, row.reason, row.stopped);
        EXPECT_EQ(outcome.exit, row.exit) << row.message;
        EXPECT_EQ(outcome.kind, row.kind) << row.message;
    }
    EXPECT_EQ(ExitKindName(kExitLocalFault), "local-fault");
    EXPECT_EQ(ExitKindName(kExitUsage), "usage");
}

TEST(CliOutputTest, TerminalLineFitsItsWidth) {
    const auto sample = [](std::string stage, std::string instrument, int percent, long ms,
                           std::optional<long> waiting = std::nullopt) {
        ProgressSample s;
        s.stage = std::move(stage);
        s.instrument = std::move(instrument);
        s.percent = percent;
        s.elapsed = milliseconds(ms);
        if (waiting) s.waiting = milliseconds(*waiting);
        return s;
    };
    const struct {
        ProgressSample sample;
        int width;
        std::string line;
    } rows[] = {
        {sample("", "", 0, 300), 80, "Preparing  0:00"},
        {sample("Uploading", "PC000001", 0, 1999), 80, "PC000001: Uploading  [........................]   0%  0:01"},
        {sample("Uploading", "PC000001", 50, 61000), 80, "PC000001: Uploading  [############............]  50%  1:01"},
        {sample("Device 2/3 - FPGA uploading", "", 99, 3723000), 80,
         "Device 2/3 - FPGA uploading  [#######################.]  99%  1:02:03"},
        // Waiting: the bar gives way before the stage is cut.
        {sample("Uploading", "PC000001", 12, 27000, 12400), 80,
         "PC000001: Uploading  12%  0:27  waiting for the instrument 12 s"},
        {sample("Device 2/3 - USB Pic uploading", "", 7, 5000, 2000), 60,
         "Device 2/3 - USB   7%  0:05  waiting for the instrument 2 s"},
        {sample("Uploading", "", 100, 0), 12, "Uploadin 10"},
    };
    for (const auto& row : rows) {
        const std::string line = TerminalLine(row.sample, row.width);
        EXPECT_EQ(line, row.line) << row.sample.stage;
        EXPECT_LT(line.size(), static_cast<std::size_t>(row.width));
    }
}

TEST(CliOutputTest, WaitingMeansStillAndMostlyInTheClocksWaits) {
    using namespace std::chrono_literals;
    StillnessWatch watch;
    const auto start = std::chrono::steady_clock::time_point{} + 1h;
    const struct {
        std::string stage;
        std::int64_t done;
        milliseconds at;      // since start
        milliseconds waited;  // the clock's total
        std::optional<milliseconds> waiting;
    } steps[] = {
        {"Uploading", 0, 0ms, 0ms, std::nullopt},
        {"Uploading", 0, 900ms, 900ms, std::nullopt},     // still, but not for a second yet
        {"Uploading", 0, 1500ms, 1400ms, 1500ms},         // a restart
        {"Uploading", 5, 1600ms, 1400ms, std::nullopt},   // it moves again
        {"Uploading", 5, 3000ms, 1500ms, std::nullopt},   // still, but in an exchange, not a wait
        {"Uploading", 5, 4600ms, 3100ms, 3000ms},         // now half the time was waits
        {"FPGA uploading", 5, 4700ms, 3200ms, std::nullopt},  // a new stage starts the count again
        {"FPGA uploading", 5, 5800ms, 4300ms, 1100ms},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(watch.sample(step.stage, step.done, start + step.at, step.waited), step.waiting)
            << step.stage << " at " << step.at.count();
    }
}

TEST(CliOutputTest, JsonTextOfAnyBytes) {
    const struct {
        std::string bytes;
        std::string parsed;  // what a JSON reader makes of it (UTF-8)
    } rows[] = {
        {"Firmware upgrade successful!", "Firmware upgrade successful!"},
        {"Error: \x0A\x0D" "ERASE_FLASH", "Error: \n\rERASE_FLASH"},
        {"\"quoted\" \\path\\ \t\x01\x7F", "\"quoted\" \\path\\ \t\x01\x7F"},
        {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x94\x8C", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x94\x8C"},
        // Bytes that are no UTF-8 read as Latin-1: a lone byte, a cut sequence, an overlong form.
        {"M\xFC" "ller", "M\xC3\xBC" "ller"},
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
    };
    for (const auto& row : rows) {
        const std::string line = JsonLine().add("text", row.bytes).add("n", 7).add("none", std::optional<std::string>{}).str();
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const auto json = nlohmann::json::parse(line);
        EXPECT_EQ(json["text"], row.parsed) << line;
        EXPECT_EQ(json["n"], 7);
        EXPECT_TRUE(json["none"].is_null());
    }
    EXPECT_EQ(CliVoice("Package x: Error 1 reading Zip File."), "rovenza-cli: Package x: Error 1 reading Zip File");
}

}  // namespace
}  // namespace rovenza
