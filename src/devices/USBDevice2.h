#pragma once
// The second generation's upgrader base: one run may upgrade several attached instruments.
// `Handles` and `DeviceNames` are parallel lists in the order the device list enumerates the
// instruments: entry i of `Handles` is the open handle of the instrument whose device interface
// path is entry i of `DeviceNames`. A handle closed by `Close` with its identifier stays in both
// lists (invalid) until `Open` with that identifier opens it again.
#include <cstdint>
#include <string>
#include <vector>

#include "USBDevice.h"
#include "usb/VELKUSB_2.h"

namespace rovenza {

// The identity record every second-generation instrument keeps in its EEPROM (ReadSerialBlock)
// holds the 8-byte serial number from this byte on.
inline constexpr std::size_t kSerialOffset = 10;
inline constexpr std::string_view kSerialItemPrefix = "VKUSB SN: ";

class TUSBDevice2 : public TUSBDevice {
public:
    explicit TUSBDevice2(const Context& ctx);
    ~TUSBDevice2() override;

    // Empty identifier with nothing open: lists every instrument of the class, opens them and,
    // with more than one, lets the operator choose; true when at least one stays open.
    // A listed identifier while open: opens that instrument again at its position.
    bool Open(const std::string& id) override;
    // Empty identifier: closes and forgets every instrument. A listed identifier: closes that
    // instrument's handle only. An identifier that is not listed changes nothing (false).
    bool Close(const std::string& id) override;
    // Closes the instrument at `index` and removes it from both lists.
    void DropDevice(int index);

    // The serial number of the identity record's 8 serial bytes: with a last byte of 0, the
    // bytes as a little-endian number in upper-case hexadecimal; otherwise the 8 characters.
    static std::string FormatSerialNumber(const std::uint8_t* serial);
    // "VKUSB SN: " + the serial of `record`, as the selection dialog shows an instrument.
    static std::string SerialItem(const SerialBlock& record);

protected:
    // Position of `id` in DeviceNames (ASCII case ignored), or -1.
    int IndexOf(const std::string& id) const;
};

// What the selection dialog would show of one attached instrument, read by opening it, setting
// its mode, reading its identity record and closing it again.
struct SecondGenerationInstrument {
    std::string path;
    std::string friendlyName;
    std::string item;  // "VKUSB SN: ..."; empty when it could not be opened
};
std::vector<SecondGenerationInstrument> ListSecondGeneration(const Context& ctx);

}  // namespace rovenza
