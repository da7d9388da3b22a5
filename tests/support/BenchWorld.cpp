#include "support/BenchWorld.h"

namespace rovenza {

BenchWorld::BenchWorld(const sim::BenchSpec& setup) : bench(setup) {
    context_ = std::make_unique<Context>(
        Context{bench.driver(), bench.interfaces(), bench.clock(), debug, op, folder.path()});
}

sim::BenchSpec BenchWorld::One(sim::FamilyId family, const std::string& serial, bool bootLoader) {
    sim::BenchSpec setup;
    setup.latencyUs = 0;  // the upgrade tests count the protocol's own waits
    sim::InstrumentSpec instrument;
    instrument.family = family;
    instrument.serial = serial;
    instrument.bootLoader = bootLoader;
    setup.instruments.push_back(instrument);
    return setup;
}

std::string BenchWorld::Package(const std::vector<FwuMember>& members, const std::string& name) {
    const auto path = folder.path() / name;
    WriteFwu(path, members);
    return path.string();
}

std::string BenchWorld::Run(TUSBDevice& upgrader, const std::string& packageFile) {
    std::string message = "Error";
    upgrader.PackageFileName = packageFile;
    try {
        upgrader.Upgrade(message);
    } catch (...) {
    }
    return message;
}

std::vector<std::string> BenchWorld::WrittenCommands() const {
    std::vector<std::string> commands;
    for (const auto& request : bench.requests())
        if (request.call == "write") commands.push_back(request.command);
    return commands;
}

}  // namespace rovenza
