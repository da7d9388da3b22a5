#pragma once
// What a bench is made of: its clock and its instruments, as the bench file gives them.
#include <array>
#include <cstdint>
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
};

struct BenchSpec {
    std::string clock = "virtual";  // or "real"
    std::uint32_t latencyUs = kDefaultLatencyUs;  // "latencyUs": waited by every write, read and reset request
    std::vector<InstrumentSpec> instruments;
};

// One instrument of each family: PC000001, IC000001, UL000001, TV000001, ZN000001.
BenchSpec DefaultBench();

}  // namespace rovenza::sim
