#pragma once
// Time of the simulated bench. VirtualClock is a Clock whose sleep() advances time at once, so
// a whole upgrade with its seconds of protocol waits runs in milliseconds of real time. The
// counter counts nanoseconds; reads are safe from any thread (the window polls while the
// worker runs).
#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/Clock.h"

namespace rovenza::sim {

class VirtualClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override { return ns_.load(std::memory_order_acquire); }
    std::int64_t frequency() override { return 1'000'000'000; }

    void advance(std::chrono::nanoseconds by);
    // With a speed above 0, every sleep() also waits 1/speed of its length in real time, so a
    // person can follow a run (speed 10: ten seconds of protocol waits in one second).
    void setSpeed(double speed) { speed_ = speed; }
    std::int64_t nowNs() const { return ns_.load(std::memory_order_acquire); }
    std::int64_t nowUs() const { return nowNs() / 1000; }
    std::int64_t nowMs() const { return nowNs() / 1'000'000; }

private:
    std::atomic<std::int64_t> ns_{0};
    double speed_ = 0;
};

// The bench's view of any Clock: microseconds since the bench was built, and waits. On a
// VirtualClock a wait of any length advances it exactly; on a real clock sub-millisecond
// waits are gathered until they add up to whole milliseconds. Waits may come from several
// threads at once.
class BenchTime {
public:
    explicit BenchTime(Clock& clock);
    std::int64_t nowUs();
    void waitUs(std::int64_t us);
    void waitMs(std::uint32_t ms) { waitUs(static_cast<std::int64_t>(ms) * 1000); }
    Clock& clock() { return clock_; }

private:
    Clock& clock_;
    VirtualClock* virtual_;
    std::int64_t origin_;
    std::atomic<std::int64_t> owedUs_{0};  // real clock only: waits below one millisecond not yet slept
};

}  // namespace rovenza::sim
