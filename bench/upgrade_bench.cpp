// CPU time of one full upgrade against the virtual-time bench (the protocol waits cost
// nothing there, so this measures the host's work plus the bench's models).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "devices/TERVADevice.h"
#include "devices/VKZenaraModulDevice.h"
#include "devices/VK101PowConDevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "platform/HostBackends.h"
#include "sim/SimulatedBench.h"

namespace {

using namespace rovenza;

class NullOperator final : public Operator {
public:
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override {
        return std::vector<bool>(items.size(), true);
    }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string&, const std::string&) override {}
};

class NullDebug final : public DebugOutput {
public:
    void write(const std::string&) override {}
};

// The process's peak resident memory so far, in MiB (run one benchmark alone to read it).
double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A scratch folder for one benchmark's package and work folder, removed at its end.
struct Scratch {
    explicit Scratch(const char* name) : path(std::filesystem::temp_directory_path() / name) {
        std::filesystem::create_directories(path);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

// A bench of one instrument.
sim::BenchSpec OneInstrument(FamilyId family, const char* serial) {
    sim::BenchSpec setup;
    sim::InstrumentSpec instrument;
    instrument.family = family;
    instrument.serial = serial;
    setup.instruments.push_back(instrument);
    return setup;
}

// Runs `Upgrader` on a fresh bench of `setup` that keeps no records (as the front ends run it),
// once per iteration, and returns the requests it made in all.
template <typename Upgrader>
std::int64_t RunUnrecorded(benchmark::State& state, const sim::BenchSpec& setup, const std::filesystem::path& folder,
                           const std::filesystem::path& package) {
    NullOperator op;
    NullDebug debug;
    std::int64_t requests = 0;
    for (auto _ : state) {
        sim::SimulatedBench bench(setup, sim::RecorderSetup{.keep = false});
        Context ctx{bench.driver(), bench.interfaces(), bench.clock(), debug, op, folder};
        Upgrader upgrader(ctx);
        upgrader.PackageFileName = package.string();
        std::string message;
        upgrader.Upgrade(message);
        if (message != "Firmware upgrade successful!") state.SkipWithError(message.c_str());
        requests += static_cast<std::int64_t>(bench.bench().recorder().total());
    }
    state.counters["requests"] = benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kAvgIterations);
    return requests;
}

// One "VK101 Power Controller" (32 KiB program flash, 960 rows written and read back) with its
// demo package. The bench keeps no records.
void BM_Vk101FullUpgrade(benchmark::State& state) {
    const Scratch folder("rovenza-bench-vk101");
    const auto package = folder.path / "vk101.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoVk101));
    RunUnrecorded<TVK101PowConDevice>(state, OneInstrument(FamilyId::PowerController, "PC000001"), folder.path, package);
}
BENCHMARK(BM_Vk101FullUpgrade)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

// "Velkaro USB" with the largest flash image there is (16 MiB, 524,288 frames each way) and an
// 8 KiB EEPROM image. The bench keeps no records (it counts them), as the front ends run it.
void BM_VelkaroFullUpgrade16MiB(benchmark::State& state) {
    const Scratch folder("rovenza-bench-velkaro");
    const auto package = folder.path / "velkaro.fwu";
    std::string usb(8192, '\0'), fpga(16u << 20, '\0');
    for (std::size_t i = 0; i < usb.size(); ++i) usb[i] = static_cast<char>(i * 31 + 7);
    for (std::size_t i = 0; i < fpga.size(); ++i) fpga[i] = static_cast<char>((i * 131) ^ (i >> 11));
    WriteFwu(package, {{"Bootload.ini", ManifestText(3, {{"FPGABitSwap", "1"}, {"FPGAPowerON", "1"}})},
                       {"USB.bin", usb},
                       {"fpga.bin", fpga}});
    const std::int64_t requests =
        RunUnrecorded<TTERVADevice2>(state, OneInstrument(FamilyId::Velkaro, "TV000001"), folder.path, package);
    state.counters["requests/s"] = benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VelkaroFullUpgrade16MiB)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(2);

// A Zenara instrument with all eight slots populated (every module type, BR twice), on the
// bench's usual USB and bridge latency. The bench keeps no records.
void BM_ZenaraFullUpgrade(benchmark::State& state) {
    const Scratch folder("rovenza-bench-zenara");
    const auto package = folder.path / "zenara.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoZenara));
    sim::BenchSpec setup = OneInstrument(FamilyId::Zenara, "ZN000001");
    setup.instruments[0].modules = {1, 2, 3, 4, 5, 6, 4, 1};
    RunUnrecorded<TVKZenaraModulDevice>(state, setup, folder.path, package);
    state.counters["peakMiB"] = PeakMiB();
}
BENCHMARK(BM_ZenaraFullUpgrade)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
