#include "CliUpgrade.h"

#include <condition_variable>
#include <thread>
#include <utility>

#include "CliOptions.h"
#include "devices/Families.h"
#include "devices/TERVADevice.h"
#include "frontend/Progress.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kSampleInterval{30};  // as often as the window's timer looks

// --parallel: every instrument's upgrader on a thread of its own, all of them ended on return.
void RunEachOnAThread(const std::vector<std::shared_ptr<TTERVADevice2>>& upgraders) {
    std::vector<std::thread> threads;
    try {
        for (const auto& upgrader : upgraders) threads.emplace_back([upgrader] { upgrader->UpgradeInstrument(); });
    } catch (...) {
        for (auto& thread : threads) thread.join();
        throw;
    }
    for (auto& thread : threads) thread.join();
}

// What the sampling loop has told of one line of progress: the run's, or an instrument's.
struct SampledLane {
    std::size_t stagesTold = 0;
    std::string stage;
    StillnessWatch stillness;
};

// Samples `upgrader` as the lane's next look: every stage set since the last look (the last is
// the one running, the others began and ended in between, a quick run in virtual time) and its
// count.
ProgressSample Sample(TUSBDevice& upgrader, SampledLane& lane, std::chrono::steady_clock::time_point begin,
                      std::chrono::nanoseconds waited) {
    ProgressSample sample;
    std::vector<std::string> stages = upgrader.StagesFrom(lane.stagesTold);
    lane.stagesTold += stages.size();
    if (!stages.empty()) {
        lane.stage = stages.back();
        stages.pop_back();
    }
    sample.passedStages = std::move(stages);
    sample.stage = lane.stage;
    sample.total = upgrader.GetTotalCount();
    sample.done = upgrader.GetDoneCount();
    sample.percent = ProgressPosition(sample.total, sample.done);
    const auto now = steady_clock::now();
    sample.elapsed = std::chrono::duration_cast<milliseconds>(now - begin);
    sample.waiting = lane.stillness.sample(sample.stage, sample.done, now, waited);
    return sample;
}

}  // namespace

void CliNotes::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    notes_.push_back({false, {}, line});
}

void CliNotes::messageBox(const std::string& title, const std::string& text) {
    std::lock_guard lock(mutex_);
    notes_.push_back({true, title, text});
}

std::vector<CliNotes::Note> CliNotes::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(notes_, {});
}

void CliNotes::passOn(CliReporter& reporter) {
    for (const Note& note : take()) {
        if (note.messageBox)
            reporter.message(note.title, note.text);
        else
            reporter.diagnostic(note.text);
    }
}

std::optional<milliseconds> StillnessWatch::sample(const std::string& stage, std::int64_t done,
                                                   steady_clock::time_point now, std::chrono::nanoseconds waited) {
    if (!started_ || stage != stage_ || done != done_) {
        started_ = true;
        stage_ = stage;
        done_ = done;
        since_ = now;
        waitedSince_ = waited;
        return std::nullopt;
    }
    const auto still = now - since_;
    if (still < kStill || (waited - waitedSince_) * 2 < still) return std::nullopt;
    return std::chrono::duration_cast<milliseconds>(still);
}

int RunCliUpgrade(const CliOptions& options, World& world, CliNotes& notes, CliReporter& reporter,
                  const std::atomic<bool>* interrupt) {
    reporter.start(kFamilies[static_cast<std::size_t>(options.family)].listText, options.packageFile);
    // A first-generation upgrade sees the instruments --select names alone.
    Context ctx = world.context();
    if (Family(static_cast<FamilyId>(options.family)).generation == 1) ctx.firstGenerationSerials = options.select;
    auto upgrader = CreateUpgrader(options.family, ctx);
    upgrader->PackageFileName = options.packageFile;
    // --parallel: the instruments' own upgraders and their serial numbers, once the run has made
    // them.
    std::mutex partsMutex;
    std::vector<std::pair<std::shared_ptr<TTERVADevice2>, std::string>> parts;
    if (auto* terva = dynamic_cast<TTERVADevice2*>(upgrader.get()); terva && options.parallel) {
        terva->SetInstrumentRunner([&](const std::vector<std::shared_ptr<TTERVADevice2>>& upgraders) {
            {
                std::lock_guard lock(partsMutex);
                for (const auto& part : upgraders) parts.emplace_back(part, DevicePathSerial(part->DeviceNames.front()));
            }
            RunEachOnAThread(upgraders);
        });
    }

    std::string message(kMsgError);
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread worker([&] {
        try {
            upgrader->Upgrade(message);
        } catch (...) {
            // The message keeps what the upgrader had set.
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_one();
    });

    const auto begin = steady_clock::now();
    SampledLane runLane;
    std::vector<SampledLane> partLanes;
    std::size_t instrumentsTold = 0;
    bool interruptTold = false;
    const auto look = [&] {
        notes.passOn(reporter);
        if (interrupt && interrupt->load() && !interruptTold) {
            reporter.interrupted();
            interruptTold = true;
        }
        const std::vector<RunInstrument> instruments = upgrader->Instruments();
        for (; instrumentsTold < instruments.size(); ++instrumentsTold) reporter.instrument(instruments[instrumentsTold]);
        std::vector<std::pair<std::shared_ptr<TTERVADevice2>, std::string>> running;
        {
            std::lock_guard lock(partsMutex);
            running = parts;
        }
        if (running.empty()) {
            ProgressSample sample = Sample(*upgrader, runLane, begin, world.clock().waited());
            if (instruments.size() == 1) sample.instrument = instruments.front().serial;
            reporter.progress(sample);
            return;
        }
        partLanes.resize(running.size());
        for (std::size_t i = 0; i < running.size(); ++i) {
            ProgressSample sample = Sample(*running[i].first, partLanes[i], begin, world.clock().waited());
            sample.index = static_cast<int>(i + 1);
            sample.instrument = running[i].second;
            reporter.progress(sample);
        }
    };
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, kSampleInterval, [&] { return done; })) {
            lock.unlock();
            look();
            lock.lock();
        }
    }
    worker.join();
    look();

    const bool stopped = upgrader->Stopped();
    const std::optional<UpgradeReason> reason = upgrader->Reason();
    parts.clear();
    upgrader.reset();  // closes any handle still open, and the trace, before the bench is dumped
    std::optional<std::string> fault;
    try {
        world.finish();
    } catch (const std::exception& e) {
        fault = e.what();
    }
    notes.passOn(reporter);

    CliOutcome outcome = ClassifyRun(message, reason, stopped);
    // A failed or stopped run keeps its own status; the fault is told beside it.
    if (fault && outcome.exit == kExitSuccess) outcome = {kExitLocalFault, ExitKindName(kExitLocalFault)};
    CliRunResult result{stopped ? std::string(kMsgInterrupted) : message, outcome, std::nullopt, fault};
    if (reason && (stopped || message != kMsgSuccess)) result.reason = reason->text;
    if (interruptTold && !stopped && !result.reason)
        result.reason = "the upgrade came to its end before a point where it could stop safely";
    reporter.result(result);
    return outcome.exit;
}

}  // namespace rovenza
