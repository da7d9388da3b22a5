#include "Waits.h"

#include <algorithm>
#include <stdexcept>

#include "package/WorkFolder.h"
#include "sim/Recorder.h"

namespace rovenza::sim {

void WaitTotals::add(const RecordedWait& wait) {
    ++count;
    askedUs += wait.askedUs;
    tookUs += wait.tookUs;
    if (wait.tookUs < wait.askedUs) ++shorter;
    longestOverUs = std::max(longestOverUs, wait.tookUs - wait.askedUs);
}

WaitRecorder::WaitRecorder(bool keep, const std::optional<std::filesystem::path>& log) : keep_(keep), logFile_(log) {
    if (!logFile_) return;
    std::error_code ec;
    if (logFile_->has_parent_path()) std::filesystem::create_directories(logFile_->parent_path(), ec);
    if (ec)
        throw std::runtime_error(logFile_->parent_path().string() + ": cannot create the dump folder: " + PlainErrorText(ec));
    log_ = std::make_unique<std::ofstream>(*logFile_, std::ios::binary | std::ios::trunc);
    if (!*log_) throw std::runtime_error(logFile_->string() + ": cannot write the wait log");
}

WaitRecorder::~WaitRecorder() = default;

void WaitRecorder::add(const RecordedWait& wait) {
    std::lock_guard lock(mutex_);
    totals_.add(wait);
    byLength_[wait.askedUs].add(wait);
    if (log_) *log_ << WaitLine(wait) << '\n';
    if (keep_) waits_.push_back(wait);
}

std::vector<RecordedWait> WaitRecorder::waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
}

WaitTotals WaitRecorder::totals() const {
    std::lock_guard lock(mutex_);
    return totals_;
}

std::map<std::int64_t, WaitTotals> WaitRecorder::byLength() const {
    std::lock_guard lock(mutex_);
    return byLength_;
}

void WaitRecorder::writeLog(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    if (log_) {
        log_->flush();
        if (!*log_) throw std::runtime_error(logFile_->string() + ": cannot write the wait log");
        std::error_code ec;
        if (std::filesystem::equivalent(*logFile_, file, ec)) return;
        std::filesystem::copy_file(*logFile_, file, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) throw std::runtime_error(file.string() + ": cannot write the wait log: " + PlainErrorText(ec));
        return;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const auto& wait : waits_) out << WaitLine(wait) << '\n';
    out.close();
    if (!out) throw std::runtime_error(file.string() + ": cannot write the wait log");
}

void WaitRecorder::writeSummary(std::ostream& out, std::int64_t benchWaitUs, std::int64_t nowUs) const {
    std::lock_guard lock(mutex_);
    out << "waits=" << totals_.count << '\n'
        << "askedMs=" << FormatTimeMs(totals_.askedUs) << '\n'
        << "tookMs=" << FormatTimeMs(totals_.tookUs) << '\n'
        << "shorter=" << totals_.shorter << '\n'
        << "longestOverMs=" << FormatTimeMs(totals_.longestOverUs) << '\n'
        << "benchWaitMs=" << FormatTimeMs(benchWaitUs) << '\n'
        << "nowMs=" << FormatTimeMs(nowUs) << '\n';
    for (const auto& [askedUs, totals] : byLength_)
        out << "length " << FormatTimeMs(askedUs) << " ms: waits=" << totals.count
            << " tookMs=" << FormatTimeMs(totals.tookUs) << " longestOverMs=" << FormatTimeMs(totals.longestOverUs)
            << '\n';
}

std::string WaitLine(const RecordedWait& wait) {
    return FormatTimeMs(wait.startUs) + '\t' + FormatTimeMs(wait.askedUs) + '\t' + FormatTimeMs(wait.tookUs);
}

void RecordingClock::sleep(std::uint32_t ms) {
    const std::int64_t start = time_.nowUs();
    time_.clock().sleep(ms);
    waits_.add({start, static_cast<std::int64_t>(ms) * 1000, time_.nowUs() - start});
}

}  // namespace rovenza::sim
