#pragma once
// What the system knows about the instruments, in one place for every layer: the families in
// the order of the main window's list, their driver generation and product identifiers, and
// the Zenara module types with their image files. Plain constexpr data, no dependencies.
#include <array>
#include <cstdint>
#include <string_view>

namespace rovenza {

// Product identifiers as they stand in first-generation device paths between "PID_" and "#".
inline constexpr std::string_view kPidBootLoader = "0DAC";  // every first-generation boot loader
inline constexpr std::string_view kPidUlmo = "0DAD";
inline constexpr std::string_view kPidIrigClock = "0DAE";
inline constexpr std::string_view kPidPowerController = "0DB0";

// The list position, from 0, in the main window's family list.
enum class FamilyId : std::uint8_t { IrigClock, Ulmo, Velkaro, PowerController, Zenara };

struct FamilyEntry {
    FamilyId id;
    std::string_view listText;     // the main window's list text
    int deviceType;                // the manifest's DeviceType for the family's packages
    int generation;                // driver generation: 1 or 2
    std::string_view firmwarePid;  // first generation: the identifier its firmware shows
};

inline constexpr std::array<FamilyEntry, 5> kFamilies{{
    {FamilyId::IrigClock, "IRIG Clock", 1, 1, kPidIrigClock},
    {FamilyId::Ulmo, "ULMO", 2, 1, kPidUlmo},
    {FamilyId::Velkaro, "Velkaro USB", 3, 2, ""},
    {FamilyId::PowerController, "VK101 Power Controller", 4, 1, kPidPowerController},
    {FamilyId::Zenara, "VKUSB Zenara - Modules", 5, 2, ""},
}};

constexpr const FamilyEntry& Family(FamilyId id) { return kFamilies[static_cast<std::size_t>(id)]; }

// Zenara amplifier modules: the type code is the module's answer to its type query; the
// module type dialog lists the names in this order, so entry index + 1 is the code.
struct ModuleTypeEntry {
    int code;
    std::string_view name;       // as the module type dialog shows it
    std::string_view imageFile;  // the image in the work folder
    std::uint32_t imageLength;   // bytes of the module's image buffer
};

inline constexpr std::array<ModuleTypeEntry, 6> kModuleTypes{{
    {1, "IEPE", "PIC_IEPE.hex", 0x4000},
    {2, "MULTIMP", "PIC_MULTI.hex", 0x4000},
    {3, "HV", "PIC_HV.hex", 0x4000},
    {4, "BR", "PIC_STG.hex", 0x8000},
    {5, "IEPE CNT", "PIC_IEPE_CNT.hex", 0x4000},
    {6, "LV", "PIC_LV.hex", 0x4000},
}};

inline constexpr int kModuleSlots = 8;

// The entry of a module type code, or nullptr for 0 and 7 to 255.
constexpr const ModuleTypeEntry* FindModuleType(int code) {
    for (const auto& type : kModuleTypes)
        if (type.code == code) return &type;
    return nullptr;
}

static_assert(Family(FamilyId::Zenara).deviceType == 5 && FindModuleType(4)->imageLength == 0x8000);

}  // namespace rovenza
