// The bench file: the contract's example, the extensions, and errors that name the field.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/BenchFile.h"
#include "sim/SimulatedBench.h"
#include "support/BenchFixture.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::BenchFileError;
using sim::FaultAction;
using sim::FaultSide;
using sim::FamilyId;
using sim::ParseBench;

TEST(BenchFile, TheContractExampleAndTheExtensionsParse) {
    const sim::BenchSpec contract = ParseBench(R"({
      "clock": "virtual",
      "instruments": [
        { "family": "VK101 Power Controller", "serial": "PC000001", "mode": "firmware",
          "faults": [ { "request": "READ_FLASH", "occurrence": 17, "action": "corrupt" } ] },
        { "family": "Velkaro USB", "serial": "TV000001" },
        { "family": "VKUSB Zenara - Modules", "serial": "ZN000001",
          "modules": ["IEPE", "BR", null, 7, "LV", "HV", "MULTIMP", "IEPE CNT"] }
      ]
    })", "real");
    EXPECT_EQ(contract.clock, "virtual");
    ASSERT_EQ(contract.instruments.size(), 3u);
    const auto& pc = contract.instruments[0];
    EXPECT_EQ(std::tuple(pc.family, pc.serial, pc.bootLoader), std::tuple(FamilyId::PowerController, "PC000001", false));
    ASSERT_EQ(pc.faults.size(), 1u);
    const sim::FaultRule& rule = pc.faults[0];
    EXPECT_EQ(std::tuple(rule.request, rule.occurrence, rule.action, rule.code, rule.on),
              std::tuple("READ_FLASH", std::optional<std::uint32_t>(17), FaultAction::Corrupt, kErrorGenFailure, FaultSide::Write));
    EXPECT_EQ(contract.instruments[1].family, FamilyId::Velkaro);
    const std::array<std::optional<int>, 8> modules{1, 4, std::nullopt, 7, 6, 3, 2, 5};
    EXPECT_EQ(contract.instruments[2].modules, modules);

    const sim::BenchSpec setup = ParseBench(R"({ "_comment": "a bench", "latencyUs": 125, "instruments": [
        { "family": "irig clock", "serial": "IC-1", "mode": "bootloader", "restartMs": 100, "bootResetMs": 200,
          "fpgaResetMs": 300, "prmdMs": 16000, "name": "IRIG-OTHER", "_note": "slow firmware",
          "faults": [ { "request": "WRITE_FLASH", "action": "fail", "code": 0, "on": "read" },
                      { "request": "FPGA_WRITE", "action": "short", "length": 20 },
                      { "request": "reappear", "occurrence": 1, "action": "never" } ] },
        { "family": "VKUSB Zenara - Modules", "serial": "ZN1", "modules": ["iepe"], "i2cLatencyUs": 4000, "slotMask": 255,
          "faults": [ { "request": 80, "action": "badchecksum" }, { "request": "GET_STATUS", "action": "busy" },
                      { "request": "0xa7", "action": "timeout", "on": "read", "slot": 8 } ] },
        { "family": "Velkaro USB", "serial": "TV1", "restartMs": 17000, "eraseMs": 25000,
          "faults": [ { "request": "FLASH_ERASE", "action": "busy" }, { "request": "MEM_READ", "action": "short", "length": 0 },
                      { "request": "FLASH_WRITE", "action": "corrupt", "byte": 63 }, { "request": "MEM_WRITE", "action": "never" },
                      { "request": "open", "occurrence": 2, "action": "fail", "code": 5 } ] } ] })",
                                           "real");
    EXPECT_EQ(std::tuple(setup.clock, setup.latencyUs), std::tuple("real", 125u));
    const auto& irig = setup.instruments[0];
    EXPECT_EQ(std::tuple(irig.family, irig.bootLoader, irig.name), std::tuple(FamilyId::IrigClock, true, "IRIG-OTHER"));
    EXPECT_EQ(std::tuple(irig.restartMs, irig.bootResetMs, irig.fpgaResetMs, irig.prmdMs), std::tuple(100u, 200u, 300u, 16000u));
    EXPECT_EQ(std::tuple(irig.faults[0].code, irig.faults[0].on, irig.faults[0].occurrence),
              std::tuple(0u, FaultSide::Read, std::optional<std::uint32_t>()));
    EXPECT_EQ(irig.faults[1].length, 20u);
    const auto& zenara = setup.instruments[1];
    EXPECT_EQ(std::tuple(zenara.modules[0], zenara.modules[1]), std::tuple(1, std::optional<int>()));
    EXPECT_EQ(zenara.faults[0].request, "0x50");
    EXPECT_EQ(std::tuple(zenara.i2cLatencyUs, zenara.slotMask), std::tuple(4000u, std::uint8_t{0xFF}));
    EXPECT_EQ(std::tuple(zenara.faults[2].request, zenara.faults[2].slot, zenara.faults[2].on),
              std::tuple("0xA7", std::optional<int>(8), FaultSide::Read));
    EXPECT_EQ(std::tuple(contract.instruments[2].i2cLatencyUs, contract.instruments[2].slotMask, zenara.faults[0].slot),
              std::tuple(700u, std::uint8_t{0}, std::optional<int>()));
    const auto& velkaro = setup.instruments[2];
    EXPECT_EQ(std::tuple(velkaro.restartMs, velkaro.eraseMs, velkaro.faults.size()), std::tuple(17000u, 25000u, 5u));
    EXPECT_EQ(std::tuple(velkaro.faults[2].byte, velkaro.faults[0].byte),
              std::tuple(std::optional<std::uint32_t>(63), std::optional<std::uint32_t>()));
    EXPECT_EQ(ParseBench("{}", "virtual").instruments.size(), 0u);
}

// A bench of one ULMO "A" with `more` fields, or with one fault rule of `rule`'s fields.
std::string Ulmo(const std::string& more) {
    return R"({"instruments": [ {"family": "ULMO", "serial": "A")" + more + "} ]}";
}
std::string UlmoFault(const std::string& rule) { return Ulmo(R"(, "faults": [ {)" + rule + "} ]"); }
std::string Velkaro(const std::string& rule) {
    return R"({"instruments": [ {"family": "Velkaro USB", "serial": "A", "faults": [ {)" + rule + "} ] } ]}";
}
std::string Zenara(const std::string& more) {
    return R"({"instruments": [ {"family": "VKUSB Zenara - Modules", "serial": "A")" + more + "} ]}";
}
std::string ZenaraFault(const std::string& rule) { return Zenara(R"(, "faults": [ {)" + rule + "} ]"); }

TEST(BenchFile, ErrorsNameTheField) {
    const std::pair<std::string, const char*> rows[] = {
        {"{ \"instruments\": [ }", "bench: not valid JSON"},
        {R"({"latencyUs": 7.5E555})", "bench: not valid JSON"},
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
        {Ulmo(R"(, "ocurrence": 1)"), "instruments[0].ocurrence: unknown field"},
        {Ulmo(R"(, "restartMs": 1.5)"), "instruments[0].restartMs: must be a whole number"},
        {Ulmo(R"(, "modules": [])"), "instruments[0].modules: only a Zenara"},
        {R"({"instruments": [ {"family": "VKUSB Zenara - Modules", "serial": "A", "modules": [1,2,3,4,5,6,7,8,9]} ]})",
         "instruments[0].modules: must be a list of up to 8"},
        {R"({"instruments": [ {"family": "VKUSB Zenara - Modules", "serial": "A", "modules": ["XLR"]} ]})",
         "instruments[0].modules[0]: unknown module type \"XLR\""},
        {UlmoFault(R"("action": "fail")"), "instruments[0].faults[0].request: missing"},
        {UlmoFault(R"("request": "CAN_FIRST", "action": "explode")"), "instruments[0].faults[0].action: unknown action \"explode\""},
        {UlmoFault(R"("request": "CAN_FIRST", "action": "fail", "occurrence": 0)"),
         "instruments[0].faults[0].occurrence: must be a whole number from 1"},
        {UlmoFault(R"("request": "CAN_FIRST", "action": "fail", "on": "both")"),
         "instruments[0].faults[0].on: must be \"write\" or \"read\""},
        {UlmoFault(R"("request": "FLASH_WRITE", "action": "fail")"), "instruments[0].faults[0]: unknown request \"FLASH_WRITE\""},
        {UlmoFault(R"("request": 80, "action": "fail")"), "instruments[0].faults[0].request: must be a text"},
        {UlmoFault(R"("request": "CAN_FIRST", "action": "busy")"),
         "instruments[0].faults[0]: action \"busy\" applies to second-generation instruments only"},
        {UlmoFault(R"("request": "GO_BOOTLOADER", "action": "corrupt")"),
         "instruments[0].faults[0]: command GO_BOOTLOADER has no reply"},
        {UlmoFault(R"("request": "open", "action": "short")"), "instruments[0].faults[0]: request \"open\" has no reply"},
        {UlmoFault(R"("request": "reappear", "action": "fail")"), "instruments[0].faults[0]: request \"reappear\" takes"},
        {Velkaro(R"("request": "GO_BOOTLOADER", "action": "fail")"), "instruments[0].faults[0]: unknown request \"GO_BOOTLOADER\""},
        {Velkaro(R"("request": "MEM_READ", "action": "busy")"), "faults[0]: action \"busy\" applies to GET_STATUS and FLASH_ERASE only"},
        {Velkaro(R"("request": "FLASH_READ", "action": "badchecksum")"), "faults[0]: action \"badchecksum\" applies to module commands"},
        {Velkaro(R"("request": 80, "action": "fail")"), "faults[0]: module command 0x50 applies to a Zenara instrument only"},
        {Velkaro(R"("request": "open", "action": "busy")"), "faults[0]: request \"open\" takes"},
        {Velkaro(R"("request": "open", "action": "corrupt")"), "faults[0]: request \"open\" has no reply"},
        {Velkaro(R"("request": "MEM_READ", "action": "fail", "slot": 1)"), "faults[0]: \"slot\" applies to module commands only"},
        {UlmoFault(R"("request": "CAN_FIRST", "action": "fail", "slot": 1)"), "faults[0]: \"slot\" applies to module commands only"},
        {Ulmo(R"(, "i2cLatencyUs": 10)"), "instruments[0].i2cLatencyUs: only a Zenara instrument"},
        {Zenara(R"(, "slotMask": 256)"), "instruments[0].slotMask: must be from 0 to 255"},
        {ZenaraFault(R"("request": "0x54", "action": "fail", "slot": 9)"), "faults[0].slot: must be from 1 to 8"},
        {ZenaraFault(R"("request": "0x54", "action": "fail", "slot": 0)"), "faults[0].slot: must be from 1 to 8"},
        {ZenaraFault(R"("request": "0xA7", "action": "badchecksum")"), "faults[0]: action \"badchecksum\" applies to module command 0x50 only"},
        {ZenaraFault(R"("request": "0x54", "action": "vanish")"), "faults[0]: module command 0x54 takes"},
        {ZenaraFault(R"("request": "0x54", "action": "fail", "on": "read")"), "faults[0]: on a module command \"on\": \"read\" takes"},
        {Ulmo(R"(, "present": 1)"), "instruments[0].present: must be true or false"},
        {Ulmo(R"(, "fpgaPower": false)"), "instruments[0].fpgaPower: only a second-generation instrument"},
        {Ulmo(R"(, "memories": [])"), "instruments[0].memories: must be an object"},
        {Ulmo(R"(, "memories": {"fpga": "fpga.bin"})"), "instruments[0].memories.fpga: not a memory of this instrument"},
        {Ulmo(R"(, "memories": {"program": 7})"), "instruments[0].memories.program: must be a text"},
        {Ulmo(R"(, "memories": {"program": "no/such.bin"})"), "instruments[0].memories.program: \"no/such.bin\" cannot be read"},
        {Zenara(R"(, "modules": ["IEPE"], "memories": {"module2": "m.bin"})"), "memories.module2: not a memory"},
    };
    for (const auto& [text, message] : rows) {
        SCOPED_TRACE(text);
        try {
            ParseBench(text, "virtual");
            ADD_FAILURE() << "accepted";
        } catch (const BenchFileError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

// "memories" start an instrument with the contents of files named relative to the bench file.
TEST(BenchFile, MemoriesComeFromFilesBesideTheBenchFile) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "A");
    const struct {
        const char* family;
        const char* memory;
        std::size_t size;
        const char* error;  // empty: accepted
    } rows[] = {
        {"ULMO", "program", 32768, ""}, {"ULMO", "eeprom", 256, ""}, {"ULMO", "can", 65536, ""},
        {"ULMO", "program", 100, "memories.program: \"A/program.bin\" must hold 32768 bytes, not 100"},
        {"IRIG Clock", "fpga", 96, ""}, {"Velkaro USB", "eeprom", 65536, ""}, {"Velkaro USB", "fpga", 5, ""},
        {"Velkaro USB", "eeprom", 256, "must hold 65536 bytes, not 256"},
        {"Velkaro USB", "program", 32768, "memories.program: not a memory of this instrument"},
        {"VKUSB Zenara - Modules", "module1", 0x600 + 0x4000 + 64, ""},
        {"VKUSB Zenara - Modules", "module1", 0x600 + 0x8000 + 64, "must hold 17984 bytes, not 34368"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.family) + " " + row.memory);
        sim::Bytes bytes(row.size);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
        const std::string file = std::string("A/") + row.memory + ".bin";
        std::ofstream(dir.path() / file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
        // Only a Zenara instrument has module slots.
        const std::string modules = std::string(row.family).starts_with("VKUSB") ? R"("modules": ["IEPE"], )" : "";
        const auto bench = dir.path() / "bench.json";
        std::ofstream(bench) << R"({"instruments": [ {"family": ")" << row.family << R"(", "serial": "A", )" << modules
                             << R"("memories": {")" << row.memory << R"(": ")" << file << R"("} } ]})";
        try {
            sim::SimulatedBench simulated(sim::LoadBenchFile(bench, "virtual"));
            EXPECT_STREQ(row.error, "");
            sim::Instrument* instrument = simulated.bench().find("A");
            std::filesystem::create_directory(dir.path() / "dump");
            const auto dumped = instrument->dumpMemories(dir.path() / "dump");
            EXPECT_NE(std::find(dumped.begin(), dumped.end(), row.memory), dumped.end());
            EXPECT_EQ(FileBytes(dir.path() / "dump" / (std::string(row.memory) + ".bin")), bytes);
        } catch (const BenchFileError& e) {
            EXPECT_NE(std::string(row.error), "") << e.what();
            EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
        }
    }
}

TEST(BenchFile, LoadingNamesTheFileAndCreateFallsBackToTheDefaultBench) {
    TempDir dir;
    const auto bad = dir.path() / "bad.json";
    std::ofstream(bad) << R"({"instruments": [ {"family": "ULMO", "serial": ""} ]})";
    for (const auto& [file, start] : {std::pair{dir.path() / "missing.json", std::string()},
                                      std::pair{bad, bad.string() + ": instruments[0].serial:"}}) {
        try {
            sim::LoadBenchFile(file, "virtual");
            ADD_FAILURE() << "accepted " << file;
        } catch (const BenchFileError& e) {
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(start, 0), 0u) << e.what();
        }
    }

    const auto standard = sim::SimulatedBench::Create({});
    EXPECT_NE(standard->virtualClock(), nullptr);
    std::vector<std::string> serials;
    for (const auto& instrument : standard->bench().instruments()) serials.push_back(instrument->serial());
    EXPECT_EQ(serials, (std::vector<std::string>{"PC000001", "IC000001", "UL000001", "TV000001", "ZN000001"}));
    EXPECT_THROW(sim::SimulatedBench::Create({.defaultClock = "sundial"}), BenchFileError);

    const auto file = dir.path() / "bench.json";
    std::ofstream(file) << Ulmo(R"(, "mode": "bootloader")");
    const auto fromFile = sim::SimulatedBench::Create({.benchFile = file, .defaultClock = "real"});
    EXPECT_EQ(fromFile->virtualClock(), nullptr);
    EXPECT_EQ(fromFile->instrument("A").pid(), "0DAC");
}

}  // namespace
}  // namespace rovenza
