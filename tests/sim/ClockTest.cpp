// Bench time: the virtual clock and the bench's waits on either kind of clock; the system
// clock's waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string_view>

#include "platform/HostBackends.h"
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
    // The end of a period counts as a whole period, however little of it was left.
    time.waitPeriodEnd(125);
    EXPECT_EQ(time.nowUs(), 2125);
    time.waitPeriodEnd(125);
    EXPECT_EQ(time.nowUs(), 2250);
    EXPECT_EQ(time.askedUs(), 2251);
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

// A paced virtual clock waits 1/speed of every sleep on the real clock; waits too short for a
// millisecond clock, and fractions of a microsecond, are carried rather than dropped.
TEST(VirtualClock, PacedSleepsKeepToTheScheduleOnAMillisecondClock) {
    MillisecondClock real;
    VirtualClock clock;
    clock.setSpeed(3, &real);
    for (int i = 0; i < 3; ++i) clock.sleep(1);  // 333.3 µs each
    EXPECT_EQ(real.sleeps, (std::vector<std::uint32_t>{1}));
    clock.setSpeed(10, &real);
    for (int i = 0; i < 25; ++i) clock.sleep(1);  // 100 µs each
    clock.sleep(1500);
    EXPECT_EQ(real.sleeps, (std::vector<std::uint32_t>{1, 1, 1, 150}));
    EXPECT_EQ(clock.nowMs(), 3 + 25 + 1500);  // virtual time moves exactly, whatever the pace
    clock.setSpeed(0, &real);
    clock.sleep(1000);
    EXPECT_EQ(real.sleeps.size(), 4u);
}

// The system clock and the bench's waits on it, in real time (about 20 ms in all): each wait
// lasts at least what it was asked, as the monotonic clock measures it, and the bench counts
// what it was asked.
TEST(SystemClock, RealWaitsAreNeverShorterThanAsked) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    SystemClock clock;
    BenchTime time(clock);
    struct Row {
        const char* what;
        microseconds asked;      // the wait lasts at least this
        std::int64_t countedUs;  // the bench counts this as waited
        std::function<void()> wait;
    };
    const Row rows[] = {
        {"sleep 1 ms", milliseconds(1), 0, [&] { clock.sleep(1); }},
        {"sleep 3 ms", milliseconds(3), 0, [&] { clock.sleep(3); }},
        {"sleep 2 ms", milliseconds(2), 0, [&] { clock.sleep(2); }},
        {"sleep 1 ms again", milliseconds(1), 0, [&] { clock.sleep(1); }},
        {"sleep 0 ms", microseconds(0), 0, [&] { clock.sleep(0); }},
        {"sleep until 2 ms on", milliseconds(2), 0, [&] { clock.sleepUntil(clock.counter() + 2'000'000); }},
        {"bench wait of 300 us", microseconds(300), 300, [&] { time.waitUs(300); }},
        {"bench wait of 2.5 ms", microseconds(2500), 2500, [&] { time.waitUs(2500); }},
        // The bench counts whole microseconds: "now" may already be up to 1 us on.
        {"bench wait until 125 us on", microseconds(124), 125, [&] { time.waitUntilUs(time.nowUs() + 125); }},
        {"bench wait until a time passed", microseconds(0), 0, [&] { time.waitUntilUs(time.nowUs() - 1000); }},
        {"bench wait for the end of a microframe", microseconds(0), 125, [&] { time.waitPeriodEnd(125); }},
    };
    std::int64_t countedUs = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t startCounter = clock.counter();
        row.wait();
        EXPECT_GE(std::chrono::steady_clock::now() - start, row.asked);
        EXPECT_GE(clock.counter() - startCounter, std::chrono::nanoseconds(row.asked).count());
        countedUs += row.countedUs;
    }
    // The wait until a time counts from the microsecond it reads "now" in, which may be one on.
    EXPECT_GE(time.askedUs(), countedUs - 1);
    EXPECT_LE(time.askedUs(), countedUs);
}

}  // namespace
}  // namespace rovenza
