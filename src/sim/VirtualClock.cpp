#include "VirtualClock.h"

#include <cmath>

namespace rovenza::sim {

VirtualClock::VirtualClock() = default;
VirtualClock::~VirtualClock() = default;

void VirtualClock::setSpeed(double speed, Clock* real) {
    speed_ = speed > 0 && std::isfinite(speed) ? speed : 0;
    pace_.reset();
    ownReal_.reset();
    sleptNs_ = 0;
    if (speed_ == 0) return;
    if (!real) {
        ownReal_ = std::make_unique<SystemClock>();
        real = ownReal_.get();
    }
    pace_ = std::make_unique<BenchTime>(*real);
}

void VirtualClock::sleep(std::uint32_t ms) {
    const std::int64_t ns = static_cast<std::int64_t>(ms) * 1'000'000;
    advance(std::chrono::nanoseconds(ns));
    if (!pace_) return;
    // Each sleep takes the real microseconds between the schedule's point before it and after
    // it, so fractions of a microsecond add up instead of being dropped at every sleep.
    const std::int64_t before = sleptNs_.fetch_add(ns, std::memory_order_relaxed);
    const auto realUs = [this](std::int64_t virtualNs) {
        return static_cast<std::int64_t>(std::floor(static_cast<double>(virtualNs) / speed_ / 1000.0));
    };
    pace_->waitUs(realUs(before + ns) - realUs(before));
}

void VirtualClock::advance(std::chrono::nanoseconds by) {
    if (by.count() > 0) ns_.fetch_add(by.count(), std::memory_order_acq_rel);
}

BenchTime::BenchTime(Clock& clock)
    : clock_(clock),
      virtual_(dynamic_cast<VirtualClock*>(&clock)),
      system_(dynamic_cast<SystemClock*>(&clock)),
      origin_(clock.counter()) {}

std::int64_t BenchTime::nowUs() {
    if (virtual_) return (virtual_->nowNs() - origin_) / 1000;  // the bench asks at every request
    const std::int64_t ticks = clock_.counter() - origin_;
    const std::int64_t frequency = clock_.frequency();
    if (frequency <= 0) return 0;
    // Split so that large counters (nanoseconds since boot) do not overflow.
    return ticks / frequency * 1'000'000 + ticks % frequency * 1'000'000 / frequency;
}

void BenchTime::waitUs(std::int64_t us) {
    if (us <= 0) return;
    askedUs_.fetch_add(us, std::memory_order_relaxed);
    pass(us);
}

void BenchTime::waitUntilUs(std::int64_t atUs) { waitUs(atUs - nowUs()); }

void BenchTime::waitPeriodEnd(std::int64_t periodUs) {
    if (periodUs <= 0) return;
    askedUs_.fetch_add(periodUs, std::memory_order_relaxed);
    const std::int64_t now = nowUs();
    pass((now / periodUs + 1) * periodUs - now);
}

void BenchTime::pass(std::int64_t us) {
    if (virtual_) {
        virtual_->advance(std::chrono::microseconds(us));
        return;
    }
    if (system_) {
        system_->sleepUntil(system_->counter() + us * 1000);  // the system clock counts nanoseconds
        return;
    }
    // Takes the whole milliseconds owed, this wait's included, and leaves the rest owed.
    std::int64_t owed = owedUs_.load();
    std::int64_t ms = 0;
    do {
        ms = (owed + us) / 1000;
    } while (!owedUs_.compare_exchange_weak(owed, owed + us - ms * 1000));
    if (ms > 0) clock_.sleep(static_cast<std::uint32_t>(ms));
}

}  // namespace rovenza::sim
