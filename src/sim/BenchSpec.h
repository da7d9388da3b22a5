#pragma once
// What a bench is made of: its clock and its instruments, as the bench file gives them.
#include <array>
#include <cstdint>
#include <map>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "sim/BenchTables.h"
#include "sim/FaultPlan.h"

namespace rovenza::sim {

struct InstrumentSpec {
    FamilyId family = FamilyId::PowerController;
    std::string serial;
    bool bootLoader = false;  // "mode": "bootloader" (first generation only)
    std::vector<FaultRule> faults;
    // Zenara: per slot a module type code, or nothing for an empty slot.
    std::array<std::optional<int>, kModuleSlots> modules{};
    // Extensions of the bench file.
    std::uint32_t restartMs = kDefaultRestartMs;      // "restartMs" (both generations, see BenchTables.h)
    std::uint32_t bootResetMs = kDefaultBootResetMs;  // "bootResetMs"
    std::uint32_t fpgaResetMs = kDefaultFpgaResetMs;  // "fpgaResetMs"
    std::uint32_t prmdMs = kDefaultPrmdMs;            // "prmdMs"
    std::uint32_t eraseMs = kDefaultEraseMs;          // "eraseMs": a full flash erase (second generation)
    std::uint32_t i2cLatencyUs = kDefaultI2cLatencyUs; // "i2cLatencyUs": Zenara bridge reply time
    std::uint8_t slotMask = 0;                        // "slotMask": Zenara slot mask at the start
    std::optional<std::string> name;                  // "name": the name-query answer
    std::optional<std::uint32_t> arrivesMs;           // "arrivesMs": plugged in this long after the start
    bool present = true;                              // "present": false: unplugged until plugged in
    bool fpgaPower = true;                            // "fpgaPower" (second generation)
    // "memories": starting contents in place of the model's own, each read whole from a file
    // (see kMemoryNames); `memoryFiles` keeps the files as the bench file names them.
    std::map<std::string, std::vector<std::uint8_t>> memories;
    std::map<std::string, std::string> memoryFiles;
};

// The memories a bench file may fill: "program", "eeprom", "can" (ULMO) and "fpga" (the IRIG
// clock's configuration store, a second-generation instrument's flash) and, for a Zenara
// instrument, "module1" to "module8". The bench dump writes each to "<name>.bin".
inline constexpr std::array<std::string_view, 12> kMemoryNames{
    "program", "eeprom", "fpga", "can", "module1", "module2", "module3", "module4",
    "module5", "module6", "module7", "module8"};

struct BenchSpec {
    std::string clock = "virtual";  // or "real"
    std::uint32_t latencyUs = kDefaultLatencyUs;  // "latencyUs": waited by every write, read and reset request
    std::vector<InstrumentSpec> instruments;
};

// One instrument of each family: PC000001, IC000001, UL000001, TV000001, ZN000001.
BenchSpec DefaultBench();

}  // namespace rovenza::sim
