#pragma once
// Backends for a machine without the maker's driver: no instrument is ever present, waits are
// real, debugger output goes to standard error.
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

class SystemClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::int64_t counter() override;
    std::int64_t frequency() override;
};

class StderrDebugOutput final : public DebugOutput {
public:
    void write(const std::string& line) override;
};

}  // namespace rovenza
