#pragma once
// The waits an upgrade makes on the bench: every sleep() of the clock the bench hands to the
// host (Bench::hostClock), with the bench time it began at, the length asked for and the bench
// time it really took. They are kept apart from the requests (Recorder.h).
//
// Where the records go is chosen as for the requests (RecorderSetup): kept in memory (waits()),
// streamed to waits.log as each wait ends, both or neither. The totals and the totals per
// length asked are kept in every mode; they grow only with the number of distinct lengths, which
// the protocols fix, never with the length of the run.
//
// Thread-safe: the host may wait on several threads at once while requests run.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/VirtualClock.h"

namespace rovenza::sim {

struct RecordedWait {
    std::int64_t startUs = 0;  // bench time when the wait began
    std::int64_t askedUs = 0;  // the length the host asked for
    std::int64_t tookUs = 0;   // bench time until it returned

    bool operator==(const RecordedWait&) const = default;
};

struct WaitTotals {
    std::size_t count = 0;
    std::int64_t askedUs = 0;
    std::int64_t tookUs = 0;
    std::size_t shorter = 0;          // waits that returned before their length had passed
    std::int64_t longestOverUs = 0;   // the most any wait took beyond its length

    void add(const RecordedWait& wait);
};

class WaitRecorder {
public:
    // Creates the log file (and its folder) when `log` names one; throws std::runtime_error
    // when it cannot.
    explicit WaitRecorder(bool keep = true, const std::optional<std::filesystem::path>& log = std::nullopt);
    ~WaitRecorder();
    WaitRecorder(const WaitRecorder&) = delete;
    WaitRecorder& operator=(const WaitRecorder&) = delete;

    void add(const RecordedWait& wait);

    // Copies, as another thread may be adding.
    std::vector<RecordedWait> waits() const;  // kept waits only
    WaitTotals totals() const;                // every wait, kept or not
    std::map<std::int64_t, WaitTotals> byLength() const;  // by the length asked, in microseconds

    // waits.log: one line per wait, "start asked took" in milliseconds with three decimals,
    // tab-separated. Into `file`: the streamed log is flushed (and copied when `file` is another
    // file); without one the kept waits are written. Throws std::runtime_error on I/O errors.
    void writeLog(const std::filesystem::path& file);
    // waits.txt: the totals, `benchWaitUs` (the bench's own waits inside requests, which the
    // host sits out as well) and `nowUs` (bench time now), one key=value a line, then the
    // totals per length asked.
    void writeSummary(std::ostream& out, std::int64_t benchWaitUs, std::int64_t nowUs) const;

private:
    mutable std::mutex mutex_;
    bool keep_;
    std::vector<RecordedWait> waits_;
    std::optional<std::filesystem::path> logFile_;
    std::unique_ptr<std::ofstream> log_;
    WaitTotals totals_;
    std::map<std::int64_t, WaitTotals> byLength_;
};

// One line of waits.log, without the line end.
std::string WaitLine(const RecordedWait& wait);

// The host's clock on the bench: sleeps on the bench's clock and records each sleep; counter()
// and frequency() are the bench clock's.
class RecordingClock final : public Clock {
public:
    RecordingClock(BenchTime& time, WaitRecorder& waits) : time_(time), waits_(waits) {}
    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override { return time_.clock().counter(); }
    std::int64_t frequency() override { return time_.clock().frequency(); }

private:
    BenchTime& time_;
    WaitRecorder& waits_;
};

}  // namespace rovenza::sim
