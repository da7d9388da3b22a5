#pragma once
// The folders beside the program and the fixed names of everything an FWU package carries:
// the manifest, its keys, and the image files the families read from the work folder.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "catalog/InstrumentCatalog.h"
#include "platform/ProgramFolders.h"

namespace rovenza {

// The manifest and its keys.
inline constexpr std::string_view kManifestFileName = "Bootload.ini";
inline constexpr std::string_view kManifestInfoSection = "Info";
inline constexpr std::string_view kManifestDeviceTypeKey = "DeviceType";
inline constexpr std::string_view kManifestSettingsSection = "Settings";
inline constexpr std::string_view kManifestFPGABitSwapKey = "FPGABitSwap";
inline constexpr std::string_view kManifestFPGAPowerONKey = "FPGAPowerON";

// Image files, spelled exactly as the families open them.
inline constexpr std::string_view kPicUsbHexName = "pic_USB.hex";       // IRIG clock, VK101
inline constexpr std::string_view kFpgaHexName = "fpga.hex";            // IRIG clock
inline constexpr std::string_view kUlmoUsbHexName = "ulmo_usb.hex";     // ULMO
inline constexpr std::string_view kUlmoCanHexName = "ulmo_can.hex";     // ULMO
inline constexpr std::string_view kUsbBinName = "USB.bin";              // TERVA
inline constexpr std::string_view kFpgaBinName = "fpga.bin";            // TERVA
// Zenara module images: kModuleTypes[i].imageFile of the instrument catalogue.

// Every name a package member may carry that some reader opens; a member whose name equals
// one of these without regard to ASCII case is written under this spelling.
inline constexpr std::array<std::string_view, 13> kPackageFileNames{
    kManifestFileName,         kPicUsbHexName,            kFpgaHexName,              kUlmoUsbHexName,
    kUlmoCanHexName,           kUsbBinName,               kFpgaBinName,              kModuleTypes[0].imageFile,
    kModuleTypes[1].imageFile, kModuleTypes[2].imageFile, kModuleTypes[3].imageFile, kModuleTypes[4].imageFile,
    kModuleTypes[5].imageFile,
};

// programFolder / "Temp": packages are unpacked here, the manifest and images read from here.
std::filesystem::path WorkFolderPath(const std::filesystem::path& programFolder);
// programFolder / "FWUs": where the file dialog opens.
std::filesystem::path PackageFolderPath(const std::filesystem::path& programFolder);
// Creates both folders with any missing parents. Failure is not reported: extraction creates
// the work folder again and refuses to go on without it.
void CreateProgramFolders(const ProgramFolders& folders);

// `name` under the spelling of kPackageFileNames when it matches one without regard to ASCII
// case, otherwise `name` unchanged.
std::string CanonicalPackageFileName(std::string_view name);

// ASCII case-insensitive equality (bytes outside A-Z/a-z compare exactly).
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
// `text` with A-Z turned into a-z (other bytes unchanged).
std::string ToLowerAscii(std::string_view text);

// The system's text for `ec`, its first letter in lower case ("permission denied"), to follow a
// colon in a reason.
std::string PlainErrorText(const std::error_code& ec);

// The status of `folder` itself, a trailing separator aside: a link is not followed.
std::filesystem::file_status OwnStatus(const std::filesystem::path& folder);
// Whether `folder` is a folder itself: false for a link, even to a folder, for any other kind
// of file, and when there is nothing there.
bool IsRealFolder(const std::filesystem::path& folder);

}  // namespace rovenza
