#pragma once
// Time as the protocols see it: every fixed wait goes through sleep(), and the trace and the
// I2C poll read a performance counter and its frequency.
#include <cstdint>

namespace rovenza {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep(std::uint32_t ms) = 0;
    virtual std::int64_t counter() = 0;
    virtual std::int64_t frequency() = 0;
};

}  // namespace rovenza
