#pragma once
// Backends for a machine without the maker's driver: no instrument is ever present, waits are
// real, debugger output goes to standard error.
#include <cstdint>

#include "Clock.h"
#include "DebugOutput.h"
#include "DeviceInterfaces.h"
#include "DriverPort.h"

namespace rovenza {

class NoDriverPort final : public DriverPort {
public:
    Handle open(const std::string& path, std::uint32_t access, std::uint32_t share,
                std::uint32_t& error) override;
    bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) override;
    void close(Handle handle) override;
};

class NoDeviceInterfaces final : public DeviceInterfaces {
public:
    bool enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) override;
};

// The monotonic clock. A wait ends at an absolute deadline, never before it. A sleeping thread
// wakes some tens of microseconds late, which would add up over thousands of short protocol
// waits, so the thread sleeps until a little before the deadline and spins the rest. How much
// before is learnt per thread from how late its wake-ups have been (the late end of their
// spread, at most kMaxSpinNs), so the spin costs little CPU where the system wakes threads on
// time. The first wait on a thread asks the kernel for the least timer slack for that thread
// (Linux).
class SystemClock final : public Clock {
public:
    static constexpr std::int64_t kMaxSpinNs = 250'000;

    void sleep(std::uint32_t ms) override;  // until counter() + ms milliseconds
    std::int64_t counter() override;        // nanoseconds of the monotonic clock
    std::int64_t frequency() override;      // 1,000,000,000
    // Returns once counter() has reached `deadline`, never before.
    void sleepUntil(std::int64_t deadline);
};

class StderrDebugOutput final : public DebugOutput {
public:
    void write(const std::string& line) override;
};

}  // namespace rovenza
