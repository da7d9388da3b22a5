#pragma once
// Synthetic, well-formed packages for the families whose images are plain files: what
// "make-fwu --demo" writes, and what tests and the bench install.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "FwuWriter.h"

namespace rovenza {

// The family names "--demo" takes.
inline constexpr std::string_view kDemoVk101 = "vk101";
inline constexpr std::string_view kDemoIrig = "irig";
inline constexpr std::string_view kDemoUlmo = "ulmo";
inline constexpr std::string_view kDemoVelkaro = "velkaro";
inline constexpr std::string_view kDemoZenara = "zenara";

// The members of the demo package of `family` (vk101, irig, ulmo, velkaro or zenara), or nothing for
// another name.
//  vk101: Bootload.ini (DeviceType 4), pic_USB.hex with 32768 bytes from address 0.
//  irig:  Bootload.ini (DeviceType 1), pic_USB.hex as above, fpga.hex of 4093 64-character blocks.
//  ulmo:  Bootload.ini (DeviceType 2), ulmo_usb.hex with 32768 bytes, ulmo_can.hex with 65536 bytes.
//  velkaro: Bootload.ini (DeviceType 3, FPGAPowerON=1), USB.bin of 8192 bytes (it reaches the
//         identity record), fpga.bin of 131072 bytes.
//  zenara: Bootload.ini (DeviceType 5) and the HEX file of every module type: 1536 bytes the
//         module never receives, then the type's image (16384 or 32768 bytes).
std::optional<std::vector<FwuMember>> DemoPackageMembers(std::string_view family);

// The images behind the demo packages, for comparing with what an instrument ends up holding.
std::vector<std::uint8_t> DemoUsbPicImage();   // 32768 bytes (pic_USB.hex and ulmo_usb.hex)
std::vector<std::uint8_t> DemoFpgaImage();     // 130976 bytes (fpga.hex)
std::vector<std::uint8_t> DemoCanImage();      // 65536 bytes (ulmo_can.hex)
std::vector<std::uint8_t> DemoEepromImage();   // 8192 bytes (USB.bin)
std::vector<std::uint8_t> DemoFlashImage();    // 131072 bytes (fpga.bin)
std::vector<std::uint8_t> DemoModuleImage(int typeCode);  // what a module of that type receives

}  // namespace rovenza
