#pragma once
// Image text for packages: Intel HEX files and the plain hexadecimal-pair text of an FPGA
// configuration, and deterministic demo images to fill them with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rovenza {

// Type-0 records of at most `bytesPerRecord` (1 to 255) bytes from `startAddress`, a type-4
// record first when the start lies above 64 KiB and whenever the data crosses into the next
// 64 KiB (no record straddles one), then ":00000001FF". Upper-case digits, CR LF after every
// record. Throws std::invalid_argument for a bad record size or data reaching past 4 GiB.
std::string WriteIntelHex(const std::vector<std::uint8_t>& data, std::uint32_t startAddress = 0,
                          int bytesPerRecord = 16);

// Two upper-case hexadecimal digits per byte, no separators and no line ends.
std::string WriteHexPairs(const std::vector<std::uint8_t>& data);

// `size` pseudo-random bytes, the same for the same seed on every machine.
std::vector<std::uint8_t> DemoImage(std::size_t size, std::uint32_t seed);

}  // namespace rovenza
