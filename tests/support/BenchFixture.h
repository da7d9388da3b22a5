#pragma once
// A simulated bench on a virtual clock with a raw driver client, for the bench's own tests and
// for tests that script a conversation by hand.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/SimulatedBench.h"
#include "support/BenchRaw.h"

namespace rovenza {

inline sim::InstrumentSpec BenchInstrument(sim::FamilyId family, std::string serial, bool bootLoader = false) {
    sim::InstrumentSpec setup;
    setup.family = family;
    setup.serial = std::move(serial);
    setup.bootLoader = bootLoader;
    return setup;
}

// A bench of `instruments` without USB latency, so that tests count waits exactly.
inline sim::BenchSpec BenchOf(std::initializer_list<sim::InstrumentSpec> instruments) {
    sim::BenchSpec setup;
    setup.latencyUs = 0;
    setup.instruments = instruments;
    return setup;
}

// A dumped file's lines, and its bytes (empty when it cannot be read).
inline std::vector<std::string> FileLines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
inline sim::Bytes FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return sim::Bytes(std::istreambuf_iterator<char>(in), {});
}

struct RawBench {
    explicit RawBench(const sim::BenchSpec& setup) : bench(setup), raw(bench.driver()) {}
    std::int64_t nowUs() { return bench.nowUs(); }
    void sleepMs(std::uint32_t ms) { bench.clock().sleep(ms); }

    sim::SimulatedBench bench;
    RawDriver raw;
};

}  // namespace rovenza
