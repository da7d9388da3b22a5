#pragma once
// The device set-up walk: the present interfaces of one interface class.
#include <cstdint>
#include <string>
#include <vector>

namespace rovenza {

struct InterfaceClassGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend bool operator==(const InterfaceClassGuid&, const InterfaceClassGuid&) = default;
};

struct DeviceInterfaceEntry {
    std::string path;             // empty when the detail query failed
    std::string name;             // friendly name, else description, else empty (at most 255)
    std::uint32_t detailError = 0;  // non-zero: the detail query failed with this system code
};

class DeviceInterfaces {
public:
    virtual ~DeviceInterfaces() = default;
    // Appends the present interfaces of `cls` in a stable order. Returns false when the class
    // query itself failed (nothing is appended then).
    virtual bool enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) = 0;
};

}  // namespace rovenza
