#include "Bench.h"

#include <algorithm>
#include <stdexcept>

#include "sim/PicInstrument.h"
#include "sim/SecondGenInstrument.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza::sim {

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && EqualsIgnoreCase(text.substr(text.size() - tail.size()), tail);
}

std::unique_ptr<Instrument> MakeInstrument(const InstrumentSpec& setup) {
    if (ModelOf(setup.family).generation == 1) return std::make_unique<PicInstrument>(setup);
    return std::make_unique<SecondGenInstrument>(setup);
}

}  // namespace

Bench::Bench(Clock& clock, const BenchSpec& setup, const RecorderSetup& recording)
    : time_(clock),
      realTime_(dynamic_cast<VirtualClock*>(&clock) == nullptr),
      waits_(recording.keep, recording.waitLog),
      latencyUs_(setup.latencyUs),
      recorder_(recording) {
    for (const auto& instrument : setup.instruments) instruments_.push_back(MakeInstrument(instrument));
}

Bench::~Bench() = default;

// No lock: the clock is safe to read from any thread, and the window polls while a request
// may be waiting.
std::int64_t Bench::nowUs() { return time_.nowUs(); }

Instrument* Bench::find(std::string_view serial) {
    for (auto& instrument : instruments_)
        if (instrument->serial() == serial) return instrument.get();
    return nullptr;
}

Instrument& Bench::require(std::string_view serial) {
    if (Instrument* instrument = find(serial)) return *instrument;
    throw std::out_of_range("the bench has no instrument " + std::string(serial));
}

std::size_t Bench::openHandles() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

void Bench::addFault(std::string_view serial, FaultRule rule) {
    std::lock_guard lock(mutex_);
    require(serial).faults().add(std::move(rule));
}

void Bench::setPresent(std::string_view serial, bool present) {
    std::lock_guard lock(mutex_);
    Instrument& instrument = require(serial);
    if (present)
        instrument.reconnect();
    else
        instrument.vanish();
}

void Bench::update() {
    std::lock_guard lock(mutex_);
    updateLocked(time_.nowUs());
}

void Bench::updateLocked(std::int64_t nowUs) {
    for (auto& instrument : instruments_) instrument->update(nowUs);
}

bool Bench::alive(const OpenHandle& handle) const {
    return handle.instrument->present() && handle.instrument->epoch() == handle.epoch;
}

Instrument* Bench::resolvePath(const std::string& path) {
    for (auto& instrument : instruments_) {
        if (!instrument->present()) continue;
        if (EqualsIgnoreCase(path, kFixedDevicePath) && instrument->generation() == 1) return instrument.get();
        if (EqualsIgnoreCase(path, instrument->devicePath())) return instrument.get();
    }
    return nullptr;
}

bool Bench::sharingAllows(const Instrument& instrument, std::uint32_t access, std::uint32_t share) const {
    for (const auto& [id, other] : handles_) {
        if (other.instrument != &instrument || !alive(other)) continue;
        if ((access & kGenericWrite) && !(other.share & kFileShareWrite)) return false;
        if ((access & kGenericRead) && !(other.share & kFileShareRead)) return false;
        if ((other.access & kGenericWrite) && !(share & kFileShareWrite)) return false;
        if ((other.access & kGenericRead) && !(share & kFileShareRead)) return false;
    }
    return true;
}

Handle Bench::open(const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t& error) {
    std::lock_guard lock(mutex_);
    const std::int64_t start = time_.nowUs();
    updateLocked(start);
    RecordedRequest record;
    record.timeUs = start;
    record.path = path;
    record.call = EndsWithIgnoreCase(path, kSecondGenerationClassText) ? "open2" : "open";
    record.access = access;
    record.share = share;

    auto finish = [&](std::uint32_t result, Handle handle) {
        record.result = result;
        record.handle = handle;
        record.durationUs = time_.nowUs() - start;
        recorder_.add(std::move(record));
        error = result;
        return handle;
    };

    Instrument* instrument = resolvePath(path);
    if (!instrument) return finish(kErrorFileNotFound, kInvalidHandle);
    record.serial = instrument->serial();
    if (const auto rule = instrument->faults().next(kRequestOpen)) {
        record.fault = ActionName(rule->action);
        switch (rule->action) {
            case FaultAction::Fail: return finish(rule->code, kInvalidHandle);
            case FaultAction::Timeout: return finish(kErrorTimeout, kInvalidHandle);
            case FaultAction::Vanish:
                instrument->vanish();
                return finish(kErrorFileNotFound, kInvalidHandle);
            case FaultAction::Never: instrument->setNeverReturn(); break;
            default: break;
        }
    }
    if (!sharingAllows(*instrument, access, share)) return finish(kErrorSharingViolation, kInvalidHandle);

    const Handle handle = nextHandle_;
    nextHandle_ += 4;
    // Later requests on the handle are logged under the path it was opened with.
    handles_.emplace(handle, OpenHandle{instrument, instrument->epoch(), path, access, share, Command::None, {}});
    return finish(0, handle);
}

void Bench::close(Handle handle) {
    std::lock_guard lock(mutex_);
    RecordedRequest record;
    record.timeUs = time_.nowUs();
    record.handle = handle;
    record.call = "close";
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        record.result = kErrorInvalidHandle;  // harmless: nothing to close
    } else {
        Instrument& instrument = *it->second.instrument;
        record.path = it->second.path;
        record.serial = instrument.serial();
        if (instrument.generation() == 2) record.call = "close2";
        const bool wasAlive = alive(it->second);
        handles_.erase(it);
        const bool lastLive = std::none_of(handles_.begin(), handles_.end(), [&](const auto& entry) {
            return entry.second.instrument == &instrument && alive(entry.second);
        });
        if (wasAlive && lastLive) instrument.closed(record.timeUs);
    }
    recorder_.add(std::move(record));
}

bool Bench::enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) {
    std::lock_guard lock(mutex_);
    updateLocked(time_.nowUs());
    int generation = 0;
    if (cls == kFirstGenerationClass) generation = 1;
    if (cls == kSecondGenerationClass) generation = 2;
    for (auto& instrument : instruments_) {
        if (!instrument->present() || instrument->generation() != generation) continue;
        DeviceInterfaceEntry entry;
        entry.name = std::string(instrument->friendlyName());
        if (const auto rule = instrument->faults().next(kRequestEnumerate); rule && rule->action == FaultAction::Fail)
            entry.detailError = rule->code;
        else
            entry.path = instrument->devicePath();
        out.push_back(std::move(entry));
    }
    return true;
}

}  // namespace rovenza::sim
