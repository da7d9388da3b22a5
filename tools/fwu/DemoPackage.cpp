#include "DemoPackage.h"

#include "HexWriter.h"
#include "catalog/InstrumentCatalog.h"
#include "protocols/IntelHex.h"
#include "package/WorkFolder.h"

namespace rovenza {

namespace {

constexpr std::size_t kUsbPicBytes = 32768;
constexpr std::size_t kFpgaBlocks = 4093;          // of 64 characters, 32 bytes each
constexpr std::size_t kFpgaBytes = kFpgaBlocks * 32;
constexpr std::size_t kCanBytes = 65536;
constexpr std::size_t kEepromBytes = 8192;
constexpr std::size_t kFlashBytes = 131072;

constexpr std::uint32_t kUsbPicSeed = 0x5049430Au;
constexpr std::uint32_t kFpgaSeed = 0x4650474Au;
constexpr std::uint32_t kCanSeed = 0x43414E0Au;
constexpr std::uint32_t kEepromSeed = 0x5553420Au;
constexpr std::uint32_t kFlashSeed = 0x46504C0Au;
constexpr std::uint32_t kModuleSeed = 0x4D4F4400u;  // plus the type code

FwuMember Manifest(int deviceType) { return {std::string(kManifestFileName), ManifestText(deviceType)}; }

FwuMember Member(std::string_view name, std::string text) { return {std::string(name), std::move(text)}; }

}  // namespace

std::vector<std::uint8_t> DemoUsbPicImage() { return DemoImage(kUsbPicBytes, kUsbPicSeed); }
std::vector<std::uint8_t> DemoFpgaImage() { return DemoImage(kFpgaBytes, kFpgaSeed); }
std::vector<std::uint8_t> DemoCanImage() { return DemoImage(kCanBytes, kCanSeed); }
std::vector<std::uint8_t> DemoEepromImage() { return DemoImage(kEepromBytes, kEepromSeed); }
std::vector<std::uint8_t> DemoFlashImage() { return DemoImage(kFlashBytes, kFlashSeed); }
std::vector<std::uint8_t> DemoModuleImage(int typeCode) {
    const ModuleTypeEntry* type = FindModuleType(typeCode);
    return type ? DemoImage(type->imageLength, kModuleSeed + static_cast<std::uint32_t>(typeCode))
                : std::vector<std::uint8_t>{};
}

std::optional<std::vector<FwuMember>> DemoPackageMembers(std::string_view family) {
    if (family == kDemoVk101) {
        return std::vector<FwuMember>{Manifest(4), Member(kPicUsbHexName, WriteIntelHex(DemoUsbPicImage()))};
    }
    if (family == kDemoIrig) {
        return std::vector<FwuMember>{Manifest(1), Member(kPicUsbHexName, WriteIntelHex(DemoUsbPicImage())),
                                      Member(kFpgaHexName, WriteHexPairs(DemoFpgaImage()))};
    }
    if (family == kDemoUlmo) {
        return std::vector<FwuMember>{Manifest(2), Member(kUlmoUsbHexName, WriteIntelHex(DemoUsbPicImage())),
                                      Member(kUlmoCanHexName, WriteIntelHex(DemoCanImage()))};
    }
    if (family == kDemoVelkaro) {
        const auto usb = DemoEepromImage();
        const auto fpga = DemoFlashImage();
        return std::vector<FwuMember>{{std::string(kManifestFileName), ManifestText(3, {{"FPGAPowerON", "1"}})},
                                      Member(kUsbBinName, std::string(usb.begin(), usb.end())),
                                      Member(kFpgaBinName, std::string(fpga.begin(), fpga.end()))};
    }
    if (family == kDemoZenara) {
        std::vector<FwuMember> members{Manifest(Family(FamilyId::Zenara).deviceType)};
        for (const auto& type : kModuleTypes) {
            std::vector<std::uint8_t> stream(kModuleImageStart, 0xFF);
            const auto image = DemoModuleImage(type.code);
            stream.insert(stream.end(), image.begin(), image.end());
            members.push_back(Member(type.imageFile, WriteIntelHex(stream)));
        }
        return members;
    }
    return std::nullopt;
}

}  // namespace rovenza
