#pragma once
// Time of the simulated bench. VirtualClock is a Clock whose sleep() advances time at once, so
// a whole upgrade with its seconds of protocol waits runs in milliseconds of real time. The
// counter counts nanoseconds; reads are safe from any thread (the window polls while the
// worker runs).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/Clock.h"
#include "platform/HostBackends.h"

namespace rovenza::sim {

class BenchTime;

class VirtualClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override { return ns_.load(std::memory_order_acquire); }
    std::int64_t frequency() override { return 1'000'000'000; }

    void advance(std::chrono::nanoseconds by);
    VirtualClock();
    ~VirtualClock() override;

    // With a speed above 0, every sleep() also waits 1/speed of its length in real time on
    // `real` (the system clock unless given), so a person can follow a run (speed 10: ten
    // seconds of protocol waits in one second). The real waits keep to a schedule: what a short
    // wait cannot take on a millisecond clock is carried to the next, so no wait is lost.
    void setSpeed(double speed, Clock* real = nullptr);
    std::int64_t nowNs() const { return ns_.load(std::memory_order_acquire); }
    std::int64_t nowUs() const { return nowNs() / 1000; }
    std::int64_t nowMs() const { return nowNs() / 1'000'000; }

private:
    std::atomic<std::int64_t> ns_{0};
    double speed_ = 0;
    std::unique_ptr<Clock> ownReal_;
    std::unique_ptr<BenchTime> pace_;          // real time, when a speed is set
    std::atomic<std::int64_t> sleptNs_{0};     // virtual time slept while paced
};

// The bench's view of any Clock: microseconds since the bench was built, and waits. On a
// VirtualClock a wait of any length advances it exactly; on the system clock a wait ends at its
// deadline to the microsecond (SystemClock::sleepUntil); on any other real clock, which sleeps
// whole milliseconds only, waits below one millisecond are gathered until they add up to whole
// milliseconds. Waits may come from several threads at once.
class BenchTime {
public:
    explicit BenchTime(Clock& clock);
    std::int64_t nowUs();
    void waitUs(std::int64_t us);
    void waitMs(std::uint32_t ms) { waitUs(static_cast<std::int64_t>(ms) * 1000); }
    // Waits until bench time `atUs`; at once when it has passed.
    void waitUntilUs(std::int64_t atUs);
    // Waits until the end of the current period of `periodUs` (periods counted from the
    // bench's start), which counts as a whole period waited: whatever the host did since the
    // period began falls inside it, as a bus's schedule hides it.
    void waitPeriodEnd(std::int64_t periodUs);
    // The waits asked of this bench time so far, in microseconds.
    std::int64_t askedUs() const { return askedUs_.load(std::memory_order_relaxed); }
    Clock& clock() { return clock_; }

private:
    void pass(std::int64_t us);  // lets `us` of bench time pass, uncounted

    Clock& clock_;
    VirtualClock* virtual_;
    SystemClock* system_;
    std::int64_t origin_;
    std::atomic<std::int64_t> owedUs_{0};  // a millisecond clock only: waits below one millisecond not yet slept
    std::atomic<std::int64_t> askedUs_{0};
};

}  // namespace rovenza::sim
