// Bench time: the virtual clock and the bench's waits on either kind of clock.
#include <gtest/gtest.h>

#include "sim/VirtualClock.h"

namespace rovenza {
namespace {

using sim::BenchTime;
using sim::VirtualClock;

TEST(VirtualClock, SleepsAndWaitsMoveTimeAtOnceAndExactly) {
    VirtualClock clock;
    clock.sleep(1500);
    clock.advance(std::chrono::microseconds(250));
    EXPECT_EQ(clock.counter(), 1'500'250'000);
    EXPECT_EQ(clock.nowMs(), 1500);
    clock.advance(std::chrono::nanoseconds(-5));  // time never runs back
    EXPECT_EQ(clock.nowUs(), 1'500'250);

    BenchTime time(clock);  // counts from its own start
    time.waitUs(1);
    time.waitMs(2);
    EXPECT_EQ(time.nowUs(), 2001);
}

// A millisecond clock like the system's Sleep, to see how the bench waits on a real clock.
class MillisecondClock : public Clock {
public:
    void sleep(std::uint32_t ms) override {
        now += ms;
        sleeps.push_back(ms);
    }
    std::int64_t counter() override { return now; }
    std::int64_t frequency() override { return 1000; }
    std::int64_t now = 1'000'000'000'000;  // a large counter: no overflow in the conversion
    std::vector<std::uint32_t> sleeps;
};

TEST(BenchTime, RealClocksSleepWholeMillisecondsAndCarryTheRest) {
    MillisecondClock clock;
    BenchTime time(clock);
    EXPECT_EQ(time.nowUs(), 0);
    time.waitUs(400);
    time.waitUs(400);
    EXPECT_TRUE(clock.sleeps.empty());
    time.waitUs(400);
    time.waitMs(15000);
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{1, 15000}));
    EXPECT_EQ(time.nowUs(), 15'001'000);
}

}  // namespace
}  // namespace rovenza
