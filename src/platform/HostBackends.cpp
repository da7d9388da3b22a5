#include "HostBackends.h"

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

// The kernel may delay a sleeping thread's wake-up by the thread's timer slack (50 us unless
// asked otherwise) to serve several timers at once; the thread that waits asks for the least.
void ReduceTimerSlack() {
    thread_local bool reduced = false;
    if (reduced) return;
    reduced = true;
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

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
    ReduceTimerSlack();
    if (deadline - counter() > kSpinNs) SleepUntilAbout(deadline - kSpinNs);
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
