#pragma once
// The bench file: a JSON document naming the attached instruments.
//
//   { "clock": "virtual" | "real",            (absent: the front end's default)
//     "latencyUs": 500,                       (extension: USB latency per write/read/reset;
//                                              absent: 500, see kDefaultLatencyUs)
//     "instruments": [
//       { "family": "VK101 Power Controller", (the main window's list text, any letter case)
//         "serial": "PC000001",               (1 to 8 letters, digits, '-' or '_'; unique)
//         "mode": "firmware" | "bootloader",  (bootloader: first generation only)
//         "faults": [ { "request": "READ_FLASH", "occurrence": 17, "action": "corrupt",
//                       "code": 31, "on": "write" | "read", "length": 20,
//                       "slot": 3 } ],         (slot: module commands such as "0x54" only)
//         "modules": ["IEPE", 7, null, ...],  (Zenara only: up to 8 slots)
//         "i2cLatencyUs": 700, "slotMask": 0, (Zenara only: the module bridge)
//         "restartMs": 2500, "bootResetMs": 3000, "fpgaResetMs": 3000, "prmdMs": 1200,
//         "eraseMs": 6000,
//         "name": "IRIG-CLOCK",
//         "arrivesMs": 1000,
//         "present": false,                   (unplugged until plugged in)
//         "fpgaPower": false,                 (second generation: the FPGA switched off)
//         "memories": { "program": "PC000001/program.bin", ... } } ] }
//                                             (extensions, see BenchSpec.h; memory files are
//                                              named relative to the bench file's folder)
//
// Keys beginning with '_' are comments. Any other unknown key, a wrong type or value, is an
// error naming the field, such as "instruments[0].faults[1].action: unknown action \"explode\"".
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/BenchSpec.h"

namespace rovenza::sim {

class BenchFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `origin` names the text in error messages (the file name); memory files are read relative to
// `folder` (the current folder when it is empty).
BenchSpec ParseBench(std::string_view text, std::string_view defaultClock, const std::string& origin = "bench",
                     const std::filesystem::path& folder = {});
BenchSpec LoadBenchFile(const std::filesystem::path& file, std::string_view defaultClock);

// A bench file that sets up `setup` again: its instruments with their memories as the files
// `memoryFiles` names, without fault rules and clock. Fields at their defaults are left out.
std::string BenchFileText(const BenchSpec& setup);

}  // namespace rovenza::sim
