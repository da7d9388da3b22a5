#pragma once
// What every simulated instrument shares: its identity, its presence on the bus, restarts that
// take it off the bus for a while, and its fault plan. While an instrument is off the bus it is
// not listed, and every handle opened before it left is dead for good (requests on it fail
// with 1167), even after it has come back.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "sim/BenchSpec.h"
#include "sim/BenchTables.h"
#include "sim/FaultPlan.h"

namespace rovenza::sim {

class Instrument {
public:
    explicit Instrument(const InstrumentSpec& setup);
    virtual ~Instrument() = default;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    const std::string& serial() const { return serial_; }
    const FamilyModel& family() const { return family_; }
    int generation() const { return family_.generation; }

    bool present() const { return present_; }
    // Changes whenever the instrument leaves the bus; a handle carries the epoch it was opened in.
    std::uint32_t epoch() const { return epoch_; }
    std::uint32_t restarts() const { return restarts_; }
    // Bench time at which a restart brings it back, if one is under way.
    std::optional<std::int64_t> returnAtUs() const { return returnAtUs_; }
    bool neverReturns() const { return neverReturn_; }

    virtual std::string_view pid() const = 0;
    virtual std::string_view friendlyName() const { return family_.listText; }
    // \\?\usb#vid_1234&pid_0dae#SERIAL#{class guid}, identifier in lower case as Windows lists it.
    std::string devicePath() const;

    FaultPlan& faults() { return faults_; }
    const FaultPlan& faults() const { return faults_; }

    // Lifecycle, driven by the bench.
    void update(std::int64_t nowUs);  // brings back a restarting instrument once its time has come
    void restart(std::int64_t nowUs, std::uint32_t delayMs);  // leaves the bus, returns after the delay
    void vanish();                    // leaves the bus until reconnect()
    void reconnect();                 // back on the bus now (clears "never")
    void setNeverReturn() { neverReturn_ = true; }

    // state.txt lines and the memory files of the dump.
    virtual void writeState(std::ostream& out) const;
    virtual void dumpMemories(const std::filesystem::path& folder) const = 0;

protected:
    // The instrument's volatile state is lost whenever it leaves the bus.
    virtual void onLeave() {}

private:
    void leave();

    std::string serial_;
    const FamilyModel& family_;
    FaultPlan faults_;
    bool present_ = true;
    std::uint32_t epoch_ = 1;
    std::uint32_t restarts_ = 0;
    std::optional<std::int64_t> returnAtUs_;
    std::optional<std::int64_t> arrivesAtUs_;
    bool neverReturn_ = false;
};

const FamilyModel& ModelOf(FamilyId id);
// Writes `bytes` to `file`; throws std::runtime_error naming the file on failure.
void WriteBinaryFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

}  // namespace rovenza::sim
