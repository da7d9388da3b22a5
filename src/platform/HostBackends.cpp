#include "HostBackends.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#if defined(__linux__)
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#endif

namespace rovenza {

Handle NoDriverPort::open(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t& error) {
    error = kErrorFileNotFound;
    return kInvalidHandle;
}

bool NoDriverPort::ioControl(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                             std::uint32_t& bytesReturned, std::uint32_t& error) {
    bytesReturned = 0;
    error = kErrorInvalidHandle;
    return false;
}

void NoDriverPort::close(Handle) {}

bool NoDeviceInterfaces::enumerate(const InterfaceClassGuid&, std::vector<DeviceInterfaceEntry>&) {
    return true;
}

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// How late a thread's wake-ups come: an estimate that rises quickly with a late wake-up and
// falls slowly with an early one, so that about one wake-up in sixteen comes later than it.
class WakeLateness {
public:
    WakeLateness() {
#if defined(__linux__)
        // The kernel may delay a sleeping thread's wake-up by the thread's timer slack (50 us
        // unless asked otherwise) to serve several timers at once; the thread that waits asks
        // for the least.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    }
    // The spin before a deadline: the estimate and a margin.
    std::int64_t spinNs() const { return std::min(estimateNs_ + kMarginNs, SystemClock::kMaxSpinNs); }
    void woke(std::int64_t lateNs) {
        lateNs = std::clamp<std::int64_t>(lateNs, 0, SystemClock::kMaxSpinNs);
        if (lateNs > estimateNs_)
            estimateNs_ += (lateNs - estimateNs_) / 4;
        else
            estimateNs_ -= (estimateNs_ - lateNs) / 64;
    }

private:
    static constexpr std::int64_t kMarginNs = 10'000;
    std::int64_t estimateNs_ = 100'000;
};

// Sleeps until about `deadline` (monotonic nanoseconds); may return early on a signal.
void SleepUntilAbout(std::int64_t deadline) {
#if defined(__linux__)
    const timespec at{static_cast<time_t>(deadline / kNsPerSecond), static_cast<long>(deadline % kNsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
#else
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline)));
#endif
}

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

void SystemClock::sleep(std::uint32_t ms) {
    sleepUntil(counter() + static_cast<std::int64_t>(ms) * 1'000'000);
}

void SystemClock::sleepUntil(std::int64_t deadline) {
    thread_local WakeLateness lateness;
    const std::int64_t wake = deadline - lateness.spinNs();
    if (wake > counter()) {
        SleepUntilAbout(wake);
        lateness.woke(counter() - wake);
    }
    while (counter() < deadline) CpuRelax();
}

std::int64_t SystemClock::counter() {
#if defined(__linux__)
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

std::int64_t SystemClock::frequency() { return kNsPerSecond; }

void StderrDebugOutput::write(const std::string& line) {
    std::fprintf(stderr, "[debug] %s\n", line.c_str());
}

}  // namespace rovenza
