#include "SimulatedBench.h"

#include <stdexcept>

#include "platform/HostBackends.h"

namespace rovenza::sim {

std::unique_ptr<SimulatedBench> SimulatedBench::Create(const BenchOptions& options) {
    BenchSpec setup;
    if (options.benchFile) {
        setup = LoadBenchFile(*options.benchFile, options.defaultClock);
    } else {
        setup = DefaultBench();
        setup.clock = options.defaultClock;
        if (setup.clock != "virtual" && setup.clock != "real")
            throw BenchFileError("clock: must be \"virtual\" or \"real\", not \"" + setup.clock + "\"");
    }
    auto bench = std::make_unique<SimulatedBench>(setup, RecorderSetup{options.keepRequests, options.requestLog, options.waitLog});
    if (bench->virtualClock()) bench->virtualClock()->setSpeed(options.speed);
    return bench;
}

SimulatedBench::SimulatedBench(const BenchSpec& setup, const RecorderSetup& recording) {
    if (setup.clock == "real") {
        clock_ = std::make_unique<SystemClock>();
    } else {
        auto clock = std::make_unique<VirtualClock>();
        virtual_ = clock.get();
        clock_ = std::move(clock);
    }
    bench_ = std::make_unique<Bench>(*clock_, setup, recording);
}

SimulatedBench::~SimulatedBench() = default;

PicInstrument& SimulatedBench::instrument(std::string_view serial) {
    bench_->update();  // a restart whose time has come is over
    if (auto* pic = dynamic_cast<PicInstrument*>(bench_->find(serial))) return *pic;
    throw std::out_of_range("the bench has no first-generation instrument " + std::string(serial));
}

SecondGenInstrument& SimulatedBench::secondGen(std::string_view serial) {
    bench_->update();
    if (auto* instrument = dynamic_cast<SecondGenInstrument*>(bench_->find(serial))) return *instrument;
    throw std::out_of_range("the bench has no second-generation instrument " + std::string(serial));
}

}  // namespace rovenza::sim
