// The bench dump: requests.log; waits.log and waits.txt (the host's waits); per instrument, a
// folder named by its serial with its memories and state.txt; and bench.json, a bench file
// that starts the instruments as they are now.
#include <fstream>
#include <stdexcept>

#include "Bench.h"
#include "BenchFile.h"
#include "package/WorkFolder.h"

namespace rovenza::sim {

namespace {

std::ofstream OpenText(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error(file.string() + ": cannot write the bench dump");
    return out;
}

void Finish(std::ofstream& out, const std::filesystem::path& file) {
    out.close();
    if (!out) throw std::runtime_error(file.string() + ": cannot write the bench dump");
}

}  // namespace

void Bench::dump(const std::filesystem::path& dir) {
    std::lock_guard lock(mutex_);
    updateLocked(time_.nowUs());
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error(dir.string() + ": cannot create the dump folder: " + PlainErrorText(ec));

    recorder_.writeLog(dir / "requests.log");
    waits_.writeLog(dir / "waits.log");
    const auto waitsFile = dir / "waits.txt";
    auto waits = OpenText(waitsFile);
    waits_.writeSummary(waits, time_.askedUs(), time_.nowUs());
    Finish(waits, waitsFile);

    BenchSpec now;
    now.latencyUs = latencyUs_;
    for (const auto& instrument : instruments_) {
        const auto folder = dir / instrument->serial();
        std::filesystem::create_directories(folder, ec);
        if (ec) throw std::runtime_error(folder.string() + ": cannot create the dump folder: " + PlainErrorText(ec));
        InstrumentSpec asNow = instrument->setupAsNow();
        for (const auto& name : instrument->dumpMemories(folder))
            asNow.memoryFiles[name] = instrument->serial() + "/" + name + ".bin";
        now.instruments.push_back(std::move(asNow));
        const auto stateFile = folder / "state.txt";
        auto state = OpenText(stateFile);
        instrument->writeState(state);
        Finish(state, stateFile);
    }
    const auto benchFile = dir / "bench.json";
    auto bench = OpenText(benchFile);
    bench << BenchFileText(now);
    Finish(bench, benchFile);
}

}  // namespace rovenza::sim
