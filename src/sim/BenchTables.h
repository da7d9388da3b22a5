#pragma once
// The bench's fixed data in one place: the instrument families it models, the commands it
// recognises on the wire, the fault actions of the bench file, the module types and the
// default timings.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
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
    // First generation (PicRecognise.cpp reads them out of the packets).
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
    // Second generation: the request code in the frame's first byte.
    SetMode,
    GetStatus,
    FlashRead,
    FlashWrite,
    FlashErase,
    MemRead,
    MemWrite,
    I2cWrite,
    FpgaPower,
    I2cStartRead,
    I2cPoll,
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
    // Second generation: the request code (the frame's first byte) and the length of the
    // frame's fixed part; a shorter frame is not recognised. 0 for the first generation.
    std::uint8_t code = 0;
    std::uint8_t headerLength = 0;
};

inline constexpr CommandInfo kNoCommand{Command::None, "-", Corruption::None, 0};

inline constexpr std::array<CommandInfo, 14> kFirstGenerationCommands{{
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

// Frames (A2 A1 A0: a 24-bit address, AH AL: a 16-bit one, high byte first):
//   A0 m | A1 | A5 A2 A1 A0 n | A6 A2 A1 A0 n data | A7 | A8 AH AL k | A9 AH AL k data |
//   AD addr 12 data | AF on | B0 addr 12 | B1
inline constexpr std::array<CommandInfo, 11> kSecondGenerationCommands{{
    {Command::SetMode, "SET_MODE", Corruption::ReplyByte, 0, 0xA0, 2},
    {Command::GetStatus, "GET_STATUS", Corruption::ReplyByte, 2, 0xA1, 1},  // the Busy byte
    {Command::FlashRead, "FLASH_READ", Corruption::ReplyByte, 0, 0xA5, 5},  // first data byte
    {Command::FlashWrite, "FLASH_WRITE", Corruption::Memory, 0, 0xA6, 5},   // the echo shows it
    {Command::FlashErase, "FLASH_ERASE", Corruption::ReplyByte, 0, 0xA7, 1},
    {Command::MemRead, "MEM_READ", Corruption::ReplyByte, 0, 0xA8, 4},  // first data byte
    {Command::MemWrite, "MEM_WRITE", Corruption::Memory, 0, 0xA9, 4},
    {Command::I2cWrite, "I2C_WRITE", Corruption::ReplyByte, 0, 0xAD, 3},
    {Command::FpgaPower, "FPGA_POWER", Corruption::ReplyByte, 0, 0xAF, 2},
    {Command::I2cStartRead, "I2C_START_READ", Corruption::ReplyByte, 0, 0xB0, 3},
    {Command::I2cPoll, "I2C_POLL", Corruption::ReplyByte, 0, 0xB1, 1},
}};

inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::I2cPoll) + 1;

// Each command's entry, by its value: the bench looks one up at every request.
inline constexpr std::array<const CommandInfo*, kCommandCount> kCommandInfos = [] {
    std::array<const CommandInfo*, kCommandCount> infos{};
    infos.fill(&kNoCommand);
    for (const auto& info : kFirstGenerationCommands) infos[static_cast<std::size_t>(info.id)] = &info;
    for (const auto& info : kSecondGenerationCommands) infos[static_cast<std::size_t>(info.id)] = &info;
    return infos;
}();

constexpr const CommandInfo& Info(Command command) {
    const auto index = static_cast<std::size_t>(command);
    return index < kCommandCount ? *kCommandInfos[index] : kNoCommand;
}

constexpr std::string_view CommandName(Command command) { return Info(command).name; }

// The second-generation command a frame carries: its first byte names it, and the frame must
// hold the command's fixed part.
constexpr Command RecogniseSecondGeneration(const std::uint8_t* frame, std::size_t size) {
    if (size == 0) return Command::None;
    for (const auto& info : kSecondGenerationCommands)
        if (info.code == frame[0]) return size >= info.headerLength ? info.id : Command::None;
    return Command::None;
}

// The commands of a driver generation (1 or 2).
constexpr std::span<const CommandInfo> CommandsOf(int generation) {
    if (generation == 1) return kFirstGenerationCommands;
    return kSecondGenerationCommands;
}

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

// Memories of the second-generation instrument.
inline constexpr std::uint32_t kEeprom2Size = 0x10000;         // 64 KiB EEPROM (16-bit addresses)
inline constexpr std::uint32_t kIdentityAddress = 0x1E00;      // the 20-byte identity record
inline constexpr std::uint32_t kIdentityLength = 20;
inline constexpr std::uint32_t kIdentitySerialOffset = 10;     // bytes 10 to 17: the serial
inline constexpr std::uint32_t kConfigFlashSize = 0x1000000;   // 16 MiB configuration flash
// The IRIG clock's FPGA configuration store: what 24-bit block addresses reach.
inline constexpr std::uint32_t kFpgaStoreSize = 0x1000000 + 32;
inline constexpr std::uint32_t kConfigFlashSector = 0x10000;   // an erase clears 64 KiB sectors in turn
inline constexpr std::uint32_t kOldConfigurationEnd = 0x40000; // "old configuration" below this
inline constexpr std::uint32_t kMaxReply = 64;                 // a second-generation reply's bound

// Default timings (milliseconds unless the name says otherwise).
// USB latency of every write, read and reset request: a full-speed device is served in 1 ms
// frames, and a request waits half a frame on average, so a write and the read that collects
// its reply (one exchange) take one frame.
inline constexpr std::uint32_t kDefaultLatencyUs = 500;
inline constexpr std::uint32_t kMinPollUs = 125;  // an I2C_POLL ends with its USB microframe of this length
// First generation: firmware -> boot loader. Second generation: the restart after its EEPROM
// was rewritten and its handle closed (the host first looks again after 4 s).
inline constexpr std::uint32_t kDefaultRestartMs = 2500;
inline constexpr std::uint32_t kDefaultBootResetMs = 3000;  // boot loader -> firmware
inline constexpr std::uint32_t kDefaultFpgaResetMs = 3000;  // IRIG final reset -> firmware
inline constexpr std::uint32_t kDefaultPrmdMs = 1200;       // IRIG programming-mode preparation
// Second generation: a full erase of the configuration flash (the host polls its status for
// up to 20 s, then waits 10 s more before it writes).
inline constexpr std::uint32_t kDefaultEraseMs = 6000;
// Zenara: the I2C bridge's reply time (microseconds) from an I2C_WRITE: the 12 bytes out to a
// module and 12 back at 400 kHz with addressing, about 0.7 ms. The host's first poll comes one
// exchange (1 ms) after the write, so by default it finds the reply ready.
inline constexpr std::uint32_t kDefaultI2cLatencyUs = 700;

}  // namespace rovenza::sim
