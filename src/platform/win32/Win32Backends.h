#pragma once
// The real Windows backend of the platform layer: the maker's driver through CreateFileA,
// DeviceIoControl and CloseHandle; the device set-up walk of "SetupApi.dll", bound by name at its
// first use; waitable timers and the performance counter; OutputDebugStringA. Compiled only for Windows.
// The header itself carries no <windows.h>, so whoever includes it stays free of the system's
// macros.
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DriverPort.h"

namespace rovenza {

class Win32DriverPort final : public DriverPort {
public:
    // CreateFileA(path, access, share, no security attributes, OPEN_EXISTING, 0, no template).
    Handle open(const std::string& path, std::uint32_t access, std::uint32_t share,
                std::uint32_t& error) override;
    // DeviceIoControl, synchronous (the handle is never opened for overlapped operation).
    bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) override;
    // CloseHandle.
    void close(Handle handle) override;
};

class Win32DeviceInterfaces final : public DeviceInterfaces {
public:
    // The SetupDi walk over the present interfaces of `cls`, in the system's member order.
    // Returns false when "SetupApi.dll" or one of its entry points cannot be bound, or when the
    // class query fails.
    bool enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) override;
};

class Win32Clock final : public Clock {
public:
    // Until the performance counter has passed `ms` milliseconds: a high-resolution waitable
    // timer of the thread's own, then a spin over the last half millisecond.
    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override;        // QueryPerformanceCounter
    std::int64_t frequency() override;      // QueryPerformanceFrequency
};

// OutputDebugStringA, one call per line, the line as given.
class DebuggerOutput final : public DebugOutput {
public:
    void write(const std::string& line) override;
};

}  // namespace rovenza
