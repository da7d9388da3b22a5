#pragma once
// --inspect PACKAGE: what an upgrade would find in a package, learnt without any instrument.
// The package is walked and unpacked into a temporary work folder (removed afterwards) by the
// same component the upgraders use, and each image is read by the reader its family uses.
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "protocols/IntelHex.h"

namespace rovenza {

struct MemberReport {
    std::string name;  // as stored
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;  // as the directory gives it
    // "ok" (unpacked, its size and CRC checked), "folder" (skipped), or why it cannot be unpacked.
    std::string state;
};

struct ImageReport {
    enum class Kind { Hex, FpgaText, Binary };
    std::string file;
    Kind kind = Kind::Hex;
    std::optional<int> moduleType;  // a Zenara module image: the type code it serves
    bool present = false;
    bool accepted = false;
    std::string refusal;          // why the reader refuses it
    std::size_t refusalLine = 0;  // the line the refusal names, or 0
    // Hex: the image window and the reading's summary (HexImage without its bytes).
    std::uint32_t windowStart = 0;
    std::uint32_t capacity = 0;
    HexImage hex;
    std::size_t fpgaBlocks = 0;   // FpgaText: 32-byte blocks
    std::uint64_t size = 0;       // Binary: bytes in the file
    std::uint64_t limit = 0;      // Binary: the most the memory takes
};

struct PackageReport {
    std::string package;
    std::string unreadable;  // why the package cannot be read or unpacked; empty when it can
    std::vector<MemberReport> members;
    bool manifest = false;               // Bootload.ini is among the members
    std::int32_t deviceType = -1;        // as the upgraders read it (-1: none, or not a number)
    bool fpgaBitSwap = false;            // [Settings], as the "Velkaro USB" upgrader reads them
    bool fpgaPowerOn = false;
    int family = -1;                     // list position of the family the package fits, or -1
    std::vector<ImageReport> images;
    bool wouldStart = false;
    std::string verdict;  // why an upgrade would not start, or what it may meet on the way
};

PackageReport InspectPackage(const std::filesystem::path& package);

// 0 when the package fits a family, 3 when it is missing or cannot be read or unpacked, 5 when
// it fits no family.
int InspectExitStatus(const PackageReport& report);

void WriteInspectText(const PackageReport& report, std::ostream& out);
std::string InspectJson(const PackageReport& report);

// The whole of --inspect: the report on `out` as text or JSON; returns the exit status.
int RunInspect(const std::string& package, bool json, std::ostream& out);

}  // namespace rovenza
