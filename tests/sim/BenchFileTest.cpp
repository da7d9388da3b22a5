// The bench file: the contract's example, the extensions, and errors that name the field.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/BenchFile.h"
#include "sim/SimulatedBench.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::BenchFileError;
using sim::FamilyId;
using sim::ParseBench;

TEST(BenchFile, TheContractExampleParses) {
    const char* text = R"({
      "clock": "virtual",
      "instruments": [
        { "family": "VK101 Power Controller", "serial": "PC000001", "mode": "firmware",
          "faults": [ { "request": "READ_FLASH", "occurrence": 17, "action": "corrupt" } ] },
        { "family": "Velkaro USB", "serial": "TV000001" },
        { "family": "VKUSB Zenara - Modules", "serial": "ZN000001",
          "modules": ["IEPE", "BR", null, 7, "LV", "HV", "MULTIMP", "IEPE CNT"] }
      ]
    })";
    const sim::BenchSpec setup = ParseBench(text, "real");
    EXPECT_EQ(setup.clock, "virtual");
    ASSERT_EQ(setup.instruments.size(), 3u);
    const auto& pc = setup.instruments[0];
    EXPECT_EQ(pc.family, FamilyId::PowerController);
    EXPECT_FALSE(pc.bootLoader);
    ASSERT_EQ(pc.faults.size(), 1u);
    EXPECT_EQ(pc.faults[0].request, "READ_FLASH");
    EXPECT_EQ(pc.faults[0].occurrence, 17u);
    EXPECT_EQ(pc.faults[0].action, sim::FaultAction::Corrupt);
    EXPECT_EQ(pc.faults[0].code, kErrorGenFailure);
    EXPECT_EQ(pc.faults[0].on, sim::FaultSide::Write);
    EXPECT_EQ(setup.instruments[1].family, FamilyId::Velkaro);
    const std::array<std::optional<int>, 8> modules{1, 4, std::nullopt, 7, 6, 3, 2, 5};
    EXPECT_EQ(setup.instruments[2].modules, modules);
}

TEST(BenchFile, ExtensionsAndDefaults) {
    const sim::BenchSpec setup = ParseBench(R"({ "_comment": "a bench", "latencyUs": 125, "instruments": [
        { "family": "irig clock", "serial": "IC-1", "mode": "bootloader", "restartMs": 100, "bootResetMs": 200,
          "fpgaResetMs": 300, "prmdMs": 16000, "name": "IRIG-OTHER", "_note": "slow firmware",
          "faults": [ { "request": "WRITE_FLASH", "action": "fail", "code": 0, "on": "read" },
                      { "request": "FPGA_WRITE", "action": "short", "length": 20 },
                      { "request": "reappear", "occurrence": 1, "action": "never" } ] },
        { "family": "VKUSB Zenara - Modules", "serial": "ZN1", "modules": ["iepe"],
          "faults": [ { "request": 80, "action": "badchecksum" }, { "request": "GET_STATUS", "action": "busy" } ] } ] })",
                                           "real");
    EXPECT_EQ(setup.clock, "real");
    EXPECT_EQ(setup.latencyUs, 125u);
    const auto& irig = setup.instruments[0];
    EXPECT_EQ(irig.family, FamilyId::IrigClock);
    EXPECT_TRUE(irig.bootLoader);
    EXPECT_EQ(irig.restartMs, 100u);
    EXPECT_EQ(irig.bootResetMs, 200u);
    EXPECT_EQ(irig.fpgaResetMs, 300u);
    EXPECT_EQ(irig.prmdMs, 16000u);
    EXPECT_EQ(irig.name, "IRIG-OTHER");
    EXPECT_EQ(irig.faults[0].code, 0u);
    EXPECT_EQ(irig.faults[0].on, sim::FaultSide::Read);
    EXPECT_FALSE(irig.faults[0].occurrence);
    EXPECT_EQ(irig.faults[1].length, 20u);
    const auto& zenara = setup.instruments[1];
    EXPECT_EQ(zenara.modules[0], 1);
    EXPECT_FALSE(zenara.modules[1]);
    EXPECT_EQ(zenara.faults[0].request, "0x50");
    EXPECT_EQ(ParseBench("{}", "virtual").instruments.size(), 0u);
}

TEST(BenchFile, ErrorsNameTheField) {
    struct Row {
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"{ \"instruments\": [ }", "bench: not valid JSON"},
        {"[]", "bench: must hold one JSON object"},
        {R"({"clock": "fast"})", "bench: clock: must be \"virtual\" or \"real\""},
        {R"({"instrumnets": []})", "bench: instrumnets: unknown field"},
        {R"({"latencyUs": -1})", "bench: latencyUs: must be a whole number"},
        {R"({"instruments": [ 7 ]})", "instruments[0]: must be an object"},
        {R"({"instruments": [ {"serial": "A"} ]})", "instruments[0].family: missing"},
        {R"({"instruments": [ {"family": "Toaster", "serial": "A"} ]})", "instruments[0].family: unknown family \"Toaster\""},
        {R"({"instruments": [ {"family": "ULMO"} ]})", "instruments[0].serial: missing"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "UL0000001"} ]})", "instruments[0].serial: must be 1 to 8"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "UL#1"} ]})", "instruments[0].serial: must be 1 to 8"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A"}, {"family": "ULMO", "serial": "A"} ]})",
         "instruments[1].serial: \"A\" is already used"},
        {R"({"instruments": [ {"family": "Velkaro USB", "serial": "A", "mode": "bootloader"} ]})",
         "instruments[0].mode: must be \"firmware\""},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "ocurrence": 1} ]})", "instruments[0].ocurrence: unknown field"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "restartMs": 1.5} ]})", "instruments[0].restartMs: must be a whole number"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "modules": []} ]})", "instruments[0].modules: only a Zenara"},
        {R"({"instruments": [ {"family": "VKUSB Zenara - Modules", "serial": "A", "modules": [1,2,3,4,5,6,7,8,9]} ]})",
         "instruments[0].modules: must be a list of up to 8"},
        {R"({"instruments": [ {"family": "VKUSB Zenara - Modules", "serial": "A", "modules": ["XLR"]} ]})",
         "instruments[0].modules[0]: unknown module type \"XLR\""},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"action": "fail"} ]} ]})",
         "instruments[0].faults[0].request: missing"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "CAN_FIRST", "action": "explode"} ]} ]})",
         "instruments[0].faults[0].action: unknown action \"explode\""},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "CAN_FIRST", "action": "fail", "occurrence": 0} ]} ]})",
         "instruments[0].faults[0].occurrence: must be a whole number from 1"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "CAN_FIRST", "action": "fail", "on": "both"} ]} ]})",
         "instruments[0].faults[0].on: must be \"write\" or \"read\""},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "FLASH_WRITE", "action": "fail"} ]} ]})",
         "instruments[0].faults[0]: unknown request \"FLASH_WRITE\""},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": 80, "action": "fail"} ]} ]})",
         "instruments[0].faults[0].request: must be a text"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "CAN_FIRST", "action": "busy"} ]} ]})",
         "instruments[0].faults[0]: action \"busy\" applies to second-generation instruments only"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "GO_BOOTLOADER", "action": "corrupt"} ]} ]})",
         "instruments[0].faults[0]: command GO_BOOTLOADER has no reply"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "open", "action": "short"} ]} ]})",
         "instruments[0].faults[0]: request \"open\" has no reply"},
        {R"({"instruments": [ {"family": "ULMO", "serial": "A", "faults": [ {"request": "reappear", "action": "fail"} ]} ]})",
         "instruments[0].faults[0]: request \"reappear\" takes"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        try {
            ParseBench(row.text, "virtual");
            ADD_FAILURE() << "accepted";
        } catch (const BenchFileError& e) {
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
}

TEST(BenchFile, LoadingNamesTheFile) {
    TempDir dir;
    const auto missing = dir.path() / "missing.json";
    try {
        sim::LoadBenchFile(missing, "virtual");
        ADD_FAILURE() << "accepted";
    } catch (const BenchFileError& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos);
    }
    const auto bad = dir.path() / "bad.json";
    std::ofstream(bad) << R"({"instruments": [ {"family": "ULMO", "serial": ""} ]})";
    try {
        sim::LoadBenchFile(bad, "virtual");
        ADD_FAILURE() << "accepted";
    } catch (const BenchFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(bad.string() + ": instruments[0].serial:", 0), 0u) << e.what();
    }
}

TEST(BenchFile, CreateUsesTheFileOrTheDefaultBench) {
    const auto standard = sim::SimulatedBench::Create({});
    ASSERT_NE(standard->virtualClock(), nullptr);
    std::vector<std::string> serials;
    for (const auto& instrument : standard->bench().instruments()) serials.push_back(instrument->serial());
    EXPECT_EQ(serials, (std::vector<std::string>{"PC000001", "IC000001", "UL000001", "TV000001", "ZN000001"}));
    EXPECT_EQ(standard->secondGen("ZN000001").modules()[0], 1);
    EXPECT_THROW(standard->instrument("TV000001"), std::out_of_range);
    EXPECT_THROW(standard->instrument("XX000001"), std::out_of_range);

    EXPECT_EQ(sim::SimulatedBench::Create({.defaultClock = "real"})->virtualClock(), nullptr);
    EXPECT_THROW(sim::SimulatedBench::Create({.defaultClock = "sundial"}), BenchFileError);

    TempDir dir;
    const auto file = dir.path() / "bench.json";
    std::ofstream(file) << R"({"instruments": [ {"family": "ULMO", "serial": "UL000009", "mode": "bootloader"} ]})";
    const auto fromFile = sim::SimulatedBench::Create({.benchFile = file, .defaultClock = "real"});
    EXPECT_EQ(fromFile->virtualClock(), nullptr);
    EXPECT_EQ(fromFile->instrument("UL000009").pid(), "0DAC");
}

}  // namespace
}  // namespace rovenza
