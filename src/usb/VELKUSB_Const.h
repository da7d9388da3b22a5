#pragma once
// Constants of the maker's USB driver: control codes, interface classes, product identifiers.
#include <cstdint>
#include <string_view>

#include "catalog/InstrumentCatalog.h"
#include "platform/DeviceInterfaces.h"

namespace rovenza {

// CTL_CODE(DeviceType, Function, Method, Access)
constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function, std::uint32_t method,
                                std::uint32_t access) {
    return deviceType * 65536u + access * 16384u + function * 4u + method;
}

inline constexpr std::uint32_t kFileDeviceUnknown = 0x22;
inline constexpr std::uint32_t kMethodInDirect = 1;
inline constexpr std::uint32_t kMethodOutDirect = 2;
inline constexpr std::uint32_t kFileAnyAccess = 0;
inline constexpr std::uint32_t kFileReadWriteAccess = 3;

// First generation.
inline constexpr std::uint32_t kIoctlWrite = CtlCode(kFileDeviceUnknown, 0x814, kMethodInDirect, kFileAnyAccess);
inline constexpr std::uint32_t kIoctlRead = CtlCode(kFileDeviceUnknown, 0x813, kMethodOutDirect, kFileAnyAccess);
inline constexpr std::uint32_t kIoctlReset = CtlCode(kFileDeviceUnknown, 0x80C, kMethodInDirect, kFileAnyAccess);
// Second generation.
inline constexpr std::uint32_t kIoctlWrite2 = CtlCode(kFileDeviceUnknown, 0x850, kMethodInDirect, kFileReadWriteAccess);
inline constexpr std::uint32_t kIoctlRead2 = CtlCode(kFileDeviceUnknown, 0x851, kMethodOutDirect, kFileReadWriteAccess);

static_assert(kIoctlWrite == 0x222051 && kIoctlRead == 0x22204E && kIoctlReset == 0x222031);
static_assert(kIoctlWrite2 == 0x22E141 && kIoctlRead2 == 0x22E146);

inline constexpr std::uint32_t kPipeWrite = 0;
inline constexpr std::uint32_t kPipeRead = 1;

// The fixed device of the first-generation driver.
inline constexpr std::string_view kFixedDevicePath = "\\\\.\\vkusb-0";

// {012AD3CE-C19E-485C-9CC0-3935F972BD45}
inline constexpr InterfaceClassGuid kFirstGenerationClass{
    0x012AD3CE, 0xC19E, 0x485C, {0x9C, 0xC0, 0x39, 0x35, 0xF9, 0x72, 0xBD, 0x45}};
// {9FC19CC8-C7BA-4FAF-BBDC-9D19FFB92BC0}
inline constexpr InterfaceClassGuid kSecondGenerationClass{
    0x9FC19CC8, 0xC7BA, 0x4FAF, {0xBB, 0xDC, 0x9D, 0x19, 0xFF, 0xB9, 0x2B, 0xC0}};

// Product identifiers (kPidBootLoader and the families') come from the instrument catalogue.

// Request parameters (the driver reads them as time-outs in milliseconds).
inline constexpr std::uint32_t kDefaultParameter = 1000;
inline constexpr std::uint32_t kRestartReadParameter = 10;
inline constexpr std::uint32_t kProgrammingModeReadParameter = 15000;

}  // namespace rovenza
