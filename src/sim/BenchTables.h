#pragma once
// The bench's fixed data in one place: the instrument families it models, the commands it
// recognises on the wire, the fault actions of the bench file, the module types and the
// default timings.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "catalog/InstrumentCatalog.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza::sim {

// Vendor identifier in every device path the bench lists.
inline constexpr std::string_view kVendorId = "1234";

using rovenza::FamilyId;

struct FamilyModel {
    FamilyId id;
    std::string_view listText;     // the main window's list text, as the bench file names it
    int generation;                // driver generation, 1 or 2
    std::string_view firmwarePid;  // product identifier while the family's firmware runs
    std::string_view name;         // the name-query answer (first generation), else empty
};

constexpr FamilyModel Model(FamilyId id, std::string_view pid, std::string_view name) {
    return {id, Family(id).listText, Family(id).generation, pid, name};
}

// Product identifiers of the second generation are not fixed by the host: only the class
// matters there. These are the bench's own.
inline constexpr std::string_view kPidVelkaro = "0E10";
inline constexpr std::string_view kPidZenara = "0E11";

inline constexpr std::array<FamilyModel, 5> kFamilyModels{{
    Model(FamilyId::IrigClock, kPidIrigClock, "IRIG-CLOCK"),
    Model(FamilyId::Ulmo, kPidUlmo, "ULMO"),
    Model(FamilyId::Velkaro, kPidVelkaro, ""),
    Model(FamilyId::PowerController, kPidPowerController, "VK101"),
    Model(FamilyId::Zenara, kPidZenara, ""),
}};

// Friendly name of a first-generation instrument in its boot loader.
inline constexpr std::string_view kBootLoaderFriendlyName = "USB Boot Loader";

// Interface class GUIDs as they stand at the end of a device path.
inline constexpr std::string_view kFirstGenerationClassText = "{012ad3ce-c19e-485c-9cc0-3935f972bd45}";
inline constexpr std::string_view kSecondGenerationClassText = "{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";

// Commands the bench recognises in the bytes of a write request.
enum class Command : std::uint8_t {
    None,
    GoBootLoader,
    EraseFlash,
    WriteFlash,
    ReadFlash,
    WriteEedata,
    BootReset,
    QueryName,
    Prmd,
    FpgaCmd2,
    FpgaWrite,
    FpgaRead,
    CanFirst,
    CanSecond,
    CanFinish,
};

// How a "corrupt" fault shows in a command's effect.
enum class Corruption : std::uint8_t {
    None,        // the command has no reply to corrupt
    ReplyByte,   // the reply byte at `corruptOffset` differs
    Memory,      // the instrument stores a wrong byte (the reply is as usual)
};

struct CommandInfo {
    Command id;
    std::string_view name;  // as the recorder and the bench file name it
    Corruption corruption;
    std::uint8_t corruptOffset;  // reply byte that a corrupt fault flips (ReplyByte)
};

inline constexpr std::array<CommandInfo, 15> kCommands{{
    {Command::None, "-", Corruption::None, 0},
    {Command::GoBootLoader, "GO_BOOTLOADER", Corruption::None, 0},
    {Command::EraseFlash, "ERASE_FLASH", Corruption::ReplyByte, 0},
    {Command::WriteFlash, "WRITE_FLASH", Corruption::Memory, 0},
    {Command::ReadFlash, "READ_FLASH", Corruption::ReplyByte, 5},  // first byte of the row
    {Command::WriteEedata, "WRITE_EEDATA", Corruption::ReplyByte, 0},
    {Command::BootReset, "BOOT_RESET", Corruption::None, 0},
    {Command::QueryName, "QUERY_NAME", Corruption::ReplyByte, 4},  // first name character
    {Command::Prmd, "PRMD", Corruption::ReplyByte, 4},
    {Command::FpgaCmd2, "FPGA_CMD2", Corruption::ReplyByte, 4},
    {Command::FpgaWrite, "FPGA_WRITE", Corruption::Memory, 0},
    {Command::FpgaRead, "FPGA_READ", Corruption::ReplyByte, 5},  // first byte of the block
    {Command::CanFirst, "CAN_FIRST", Corruption::ReplyByte, 0},
    {Command::CanSecond, "CAN_SECOND", Corruption::ReplyByte, 0},
    {Command::CanFinish, "CAN_FINISH", Corruption::ReplyByte, 0},
}};

constexpr const CommandInfo& Info(Command command) {
    for (const auto& info : kCommands)
        if (info.id == command) return info;
    return kCommands[0];
}

constexpr std::string_view CommandName(Command command) { return Info(command).name; }

// Requests of the bench file that are not wire commands.
inline constexpr std::string_view kRequestOpen = "open";
inline constexpr std::string_view kRequestReappear = "reappear";
inline constexpr std::string_view kRequestEnumerate = "enumerate";

enum class FaultAction : std::uint8_t { Fail, Corrupt, Short, Timeout, Vanish, Never, Busy, BadChecksum };

inline constexpr std::array<std::pair<FaultAction, std::string_view>, 8> kFaultActions{{
    {FaultAction::Fail, "fail"},
    {FaultAction::Corrupt, "corrupt"},
    {FaultAction::Short, "short"},
    {FaultAction::Timeout, "timeout"},
    {FaultAction::Vanish, "vanish"},
    {FaultAction::Never, "never"},
    {FaultAction::Busy, "busy"},
    {FaultAction::BadChecksum, "badchecksum"},
}};

constexpr std::string_view ActionName(FaultAction action) {
    for (const auto& [id, name] : kFaultActions)
        if (id == action) return name;
    return "?";
}

// Amplifier module types of the Zenara instrument (kModuleTypes, kModuleSlots): the
// instrument catalogue.

// Memories of the first-generation PIC instrument.
inline constexpr std::uint32_t kProgramSize = 0x8000;     // 32 KiB program flash
inline constexpr std::uint32_t kBootBlockEnd = 0x0800;    // 0x0000-0x07FF: write-protected boot loader
inline constexpr std::uint32_t kEraseBlock = 64;          // one erase covers 64 bytes (two rows)
inline constexpr std::uint32_t kOldFirmwareEnd = 0x6000;  // "old firmware" from 0x0800 up to here
inline constexpr std::uint32_t kEepromSize = 256;
inline constexpr std::uint32_t kCanFlashSize = 0x10000;   // ULMO's CAN microcontroller flash

// Default timings (milliseconds unless the name says otherwise).
inline constexpr std::uint32_t kDefaultRestartMs = 2500;    // firmware -> boot loader
inline constexpr std::uint32_t kDefaultBootResetMs = 3000;  // boot loader -> firmware
inline constexpr std::uint32_t kDefaultFpgaResetMs = 3000;  // IRIG final reset -> firmware
inline constexpr std::uint32_t kDefaultPrmdMs = 1200;       // IRIG programming-mode preparation

}  // namespace rovenza::sim
