#pragma once
// The door to the instrument maker's USB kernel driver: open a device path, send one
// I/O control request, close. Mirrors CreateFileA / DeviceIoControl / CloseHandle.
#include <cstdint>
#include <string>

namespace rovenza {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};  // INVALID_HANDLE_VALUE

// Access and share flags of CreateFileA, as the channels pass them.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareWrite = 0x00000002u;

// System error codes the core and the bench speak of.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorTimeout = 1460;

class DriverPort {
public:
    virtual ~DriverPort() = default;

    // Opens `path` with the given access and share mode (always OPEN_EXISTING, no attributes).
    // Returns kInvalidHandle on failure and sets `error` to the system code (which may be 0).
    virtual Handle open(const std::string& path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t& error) = 0;

    // One synchronous I/O control request. `in`/`inSize` is the input record, `out`/`outSize`
    // the output buffer (filled by the driver for read requests, carried to it for write
    // requests). Returns false on failure with `error` set (which may be 0).
    virtual bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize, std::uint32_t& bytesReturned,
                           std::uint32_t& error) = 0;

    virtual void close(Handle handle) = 0;
};

}  // namespace rovenza
