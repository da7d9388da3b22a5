#include "WatchedClock.h"

namespace rovenza {

void WatchedClock::sleep(std::uint32_t ms) {
    using std::chrono::steady_clock;
    {
        std::lock_guard lock(mutex_);
        if (waiting_++ == 0) since_ = steady_clock::now();
    }
    // Closes the wait also when the backend's sleep throws.
    struct End {
        WatchedClock& clock;
        ~End() {
            std::lock_guard lock(clock.mutex_);
            if (--clock.waiting_ == 0) clock.finished_ += steady_clock::now() - clock.since_;
        }
    } end{*this};
    inner_.sleep(ms);
}

std::chrono::nanoseconds WatchedClock::waited() const {
    std::lock_guard lock(mutex_);
    if (waiting_ == 0) return finished_;
    return finished_ + (std::chrono::steady_clock::now() - since_);
}

}  // namespace rovenza
