// The bench file reader: a bench, or an error naming the field (no other exception).
#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "sim/BenchFile.h"

using namespace rovenza;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        sim::LoadBenchFile(fuzz::WriteInput(data, size, "bench.json"), "virtual");
    } catch (const sim::BenchFileError&) {
    }
    return 0;
}
