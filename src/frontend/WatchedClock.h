#pragma once
// The clock the front ends hand to the upgraders: every wait goes on to the backend's clock,
// and the real time spent inside waits is counted, readable from any thread. A front end
// compares it with the time since the progress last moved to tell an upgrade that waits on its
// instrument (a restart, an erase) from one that is working or stuck in an exchange. Several
// threads may wait at once (instruments upgraded in parallel): the time counted is the time
// during which at least one of them waited.
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace rovenza {

class WatchedClock final : public Clock {
public:
    explicit WatchedClock(Clock& inner) : inner_(inner) {}

    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override { return inner_.counter(); }
    std::int64_t frequency() override { return inner_.frequency(); }

    // Real time spent inside sleep() so far, the wait under way included.
    std::chrono::nanoseconds waited() const;

private:
    Clock& inner_;
    mutable std::mutex mutex_;
    std::chrono::nanoseconds finished_{0};  // time in waits up to since_
    int waiting_ = 0;                       // threads inside sleep() now
    std::chrono::steady_clock::time_point since_;  // when waiting_ last rose from 0
};

}  // namespace rovenza
