#include "HostBackends.h"

#include <chrono>
#include <cstdio>
#include <thread>

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

void SystemClock::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t SystemClock::counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SystemClock::frequency() { return 1'000'000'000; }

void StderrDebugOutput::write(const std::string& line) {
    std::fprintf(stderr, "[debug] %s\n", line.c_str());
}

}  // namespace rovenza
