#pragma once
// A simulated bench with a context around it, a program folder of its own and package
// helpers: the world of one wire-level test.
#include <memory>
#include <string>
#include <vector>

#include "devices/USBDevice.h"
#include "fwu/FwuWriter.h"
#include "sim/SimulatedBench.h"
#include "support/RecordingPlatform.h"
#include "support/TempDir.h"

namespace rovenza {

class BenchWorld {
public:
    explicit BenchWorld(const sim::BenchSpec& setup);
    // A bench holding one instrument of `family`, without USB latency.
    static sim::BenchSpec One(sim::FamilyId family, const std::string& serial, bool bootLoader = false);

    const Context& context() const { return *context_; }
    sim::PicInstrument& pic(const std::string& serial) { return bench.instrument(serial); }

    // Writes a package into the program folder and returns its path.
    std::string Package(const std::vector<FwuMember>& members, const std::string& name = "package.fwu");
    // Runs one upgrade the way the worker does and returns the message.
    std::string Run(TUSBDevice& upgrader, const std::string& packageFile);

    // Command names of the recorded write requests, in order.
    std::vector<std::string> WrittenCommands() const;
    std::size_t Writes(const std::string& command) const { return bench.count("write", command); }

    sim::SimulatedBench bench;
    TempDir folder;
    RecordingDebug debug;
    RecordingOperator op;

private:
    std::unique_ptr<Context> context_;
};

}  // namespace rovenza
