// "VK101 Power Controller" upgrades against the simulated bench: the conversation on the
// wire, its waits, every failure row, and what the instrument holds afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "devices/VK101PowConDevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/HexWriter.h"
#include "support/BenchRaw.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultRule;
using sim::FaultSide;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kSerial = "PC000001";
const std::string kTrail = "\x0A\x0D";

std::string Trail(std::initializer_list<const char*> steps) {
    std::string text;
    for (const char* step : steps) text += kTrail + step;
    return text;
}

class PowerControllerUpgradeTest : public ::testing::Test {
protected:
    BenchWorld world{BenchWorld::One(sim::FamilyId::PowerController, kSerial)};
    TVK101PowConDevice upgrader{world.context()};
    const std::vector<std::uint8_t> image = DemoUsbPicImage();
    std::vector<std::uint8_t> oldProgram = world.pic(kSerial).program();

    std::string DemoPackage() { return world.Package(*DemoPackageMembers(kDemoVk101)); }
    std::string Run() { return world.Run(upgrader, DemoPackage()); }
    void Fault(const std::string& request, std::uint32_t occurrence, FaultAction action,
               FaultSide on = FaultSide::Write, std::optional<std::uint32_t> byte = std::nullopt) {
        sim::FaultRule rule{.request = request, .occurrence = occurrence, .action = action, .on = on};
        rule.byte = byte;
        world.bench.addFault(kSerial, rule);
    }
    bool ProgramUnchanged() { return world.bench.instrument(kSerial).program() == oldProgram; }
    bool BootBlockUntouched() {
        const auto& program = world.bench.instrument(kSerial).program();
        return std::equal(program.begin(), program.begin() + 0x800, oldProgram.begin());
    }
    std::int64_t WriteTime(const std::string& command, std::size_t nth = 0) const {
        return world.bench.select("write", command).at(nth).timeUs;
    }
};

TEST_F(PowerControllerUpgradeTest, FullUpgradeWritesTheImageAndRestartsTheFirmware) {
    EXPECT_EQ(upgrader.GetTotalCount(), 963);
    EXPECT_EQ(Run(), "Firmware upgrade successful!");

    const auto& pic = world.pic(kSerial);
    EXPECT_TRUE(std::equal(pic.program().begin() + 0x800, pic.program().end(), image.begin() + 0x800));
    EXPECT_TRUE(BootBlockUntouched());
    EXPECT_EQ(pic.protectedWrites(), 0u);
    EXPECT_EQ(pic.eeprom()[0xFF], 0xFF);
    EXPECT_EQ(upgrader.GetDoneCount(), 962);
    EXPECT_EQ(upgrader.GetStageText(), "Uploading");
    EXPECT_TRUE(upgrader.Handles.empty());
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    EXPECT_EQ(world.Writes("GO_BOOTLOADER"), 1u);
    EXPECT_EQ(world.Writes("ERASE_FLASH"), 480u);
    EXPECT_EQ(world.Writes("WRITE_FLASH"), 960u);
    EXPECT_EQ(world.Writes("READ_FLASH"), 960u);
    EXPECT_EQ(world.Writes("WRITE_EEDATA"), 1u);
    EXPECT_EQ(world.Writes("BOOT_RESET"), 1u);

    // Interleaving and addresses: erase on even rows, then write and read of every row.
    std::vector<std::string> expected{"GO_BOOTLOADER"};
    for (int row = 0; row < 960; ++row) {
        if (row % 2 == 0) expected.push_back("ERASE_FLASH");
        expected.push_back("WRITE_FLASH");
        expected.push_back("READ_FLASH");
    }
    expected.push_back("WRITE_EEDATA");
    expected.push_back("BOOT_RESET");
    EXPECT_EQ(world.WrittenCommands(), expected);
    const auto writes = world.bench.select("write", "WRITE_FLASH");
    const auto erases = world.bench.select("write", "ERASE_FLASH");
    for (std::size_t row = 0; row < writes.size(); ++row) {
        const auto& sent = writes[row].sent;
        ASSERT_EQ(sent.size(), 64u);
        EXPECT_EQ(sent[0], 2);
        EXPECT_EQ(sent[1], 32);
        EXPECT_EQ(sent[2] | sent[3] << 8, 0x0800 + 32 * static_cast<int>(row));
        EXPECT_EQ(sent[4], 0);
        EXPECT_TRUE(std::equal(sent.begin() + 5, sent.begin() + 37, image.begin() + 0x800 + 32 * row));
    }
    for (std::size_t i = 0; i < erases.size(); ++i) {
        EXPECT_EQ(erases[i].sent[1], 32);
        EXPECT_EQ(erases[i].sent[2] | erases[i].sent[3] << 8, 0x0800 + 64 * static_cast<int>(i));
    }
    const auto eeprom = world.bench.select("write", "WRITE_EEDATA").at(0).sent;
    EXPECT_THAT(std::vector<std::uint8_t>(eeprom.begin(), eeprom.begin() + 6), ElementsAre(5, 1, 0xFF, 0x00, 0, 0xFF));
    const auto reset = world.bench.select("write", "BOOT_RESET").at(0).sent;
    EXPECT_THAT(std::vector<std::uint8_t>(reset.begin(), reset.begin() + 6), ElementsAre(0xFF, 1, 0xFF, 0x00, 0, 0x00));

    // Reply limits and parameters.
    const auto reads = world.bench.select("read", "READ_FLASH");
    EXPECT_EQ(reads.at(0).received.size(), 37u);
    EXPECT_EQ(world.bench.select("read", "ERASE_FLASH").at(0).received.size(), 1u);
    const auto goRead = world.bench.select("read", "GO_BOOTLOADER").at(0);
    EXPECT_THAT(goRead.input, ElementsAre(1, 0, 0, 0, 10, 0, 0, 0));
    EXPECT_THAT(world.bench.select("read", "BOOT_RESET").at(0).input, ElementsAre(1, 0, 0, 0, 10, 0, 0, 0));
    EXPECT_EQ(world.bench.count("reset"), 2u);

    // The waits: 5 ms after each packet, 25 ms after the EEPROM byte.
    EXPECT_EQ(WriteTime("WRITE_FLASH", 0) - WriteTime("ERASE_FLASH", 0), 5000);
    EXPECT_EQ(WriteTime("READ_FLASH", 0) - WriteTime("WRITE_FLASH", 0), 5000);
    EXPECT_EQ(WriteTime("WRITE_FLASH", 1) - WriteTime("READ_FLASH", 0), 5000);
    EXPECT_EQ(WriteTime("BOOT_RESET") - WriteTime("WRITE_EEDATA"), 25000);
    // After the switch: closed, 2000 ms, then an attempt every 1000 ms; the instrument is back
    // after 2500 ms, so the first attempt after 3000 ms finds it.
    const auto closes = world.bench.select("close");
    ASSERT_GE(closes.size(), 2u);
    const auto opens = world.bench.select("open");
    const auto reopen = std::find_if(opens.begin(), opens.end(), [&](const auto& r) {
        return r.timeUs > closes[0].timeUs && r.result == 0;
    });
    ASSERT_NE(reopen, opens.end());
    EXPECT_EQ(reopen->timeUs - closes[0].timeUs, 3'000'000);
    // The reopen names the one boot loader that appeared after the switch by its interface path.
    EXPECT_EQ(reopen->path, FirstGenerationPath("0dac", kSerial));
    // And 5000 ms after the final close the run ends.
    EXPECT_EQ(world.bench.nowUs() - closes.back().timeUs, 5'000'000);
    EXPECT_EQ(world.pic(kSerial).mode(), sim::PicMode::Firmware);
}

TEST_F(PowerControllerUpgradeTest, InstrumentFoundOnlyOnTheFifthAttempt) {
    sim::BenchSpec setup = BenchWorld::One(sim::FamilyId::PowerController, kSerial);
    setup.instruments[0].restartMs = 6500;
    BenchWorld slow(setup);
    TVK101PowConDevice device(slow.context());
    EXPECT_EQ(slow.Run(device, slow.Package(*DemoPackageMembers(kDemoVk101))), "Firmware upgrade successful!");
    const auto closeTime = slow.bench.select("close").at(0).timeUs;
    const auto erase = slow.bench.select("write", "ERASE_FLASH").at(0).timeUs;
    // 2000 ms, then five waits of 1000 ms; the open and the first erase follow at once.
    EXPECT_EQ(erase - closeTime, 7'000'000);
}

TEST_F(PowerControllerUpgradeTest, InstrumentThatNeverReturnsEndsWithGoBootLoad) {
    Fault("GO_BOOTLOADER", 1, FaultAction::Never);
    EXPECT_EQ(Run(), "Error: " + Trail({"GoBootLoad"}));
    EXPECT_EQ(world.Writes("ERASE_FLASH"), 0u);
    EXPECT_TRUE(ProgramUnchanged());
    // 21 attempts, each looking for 0DB0 and then trying the fixed device path.
    std::size_t attempts = 0;
    for (const auto& open : world.bench.select("open"))
        if (open.path == "\\\\.\\vkusb-0") ++attempts;
    EXPECT_EQ(attempts, 21u);
    EXPECT_EQ(world.bench.nowUs() - world.bench.select("close").at(0).timeUs, (2000 + 21 * 1000) * 1000);
}

struct Fault {
    const char* request;
    std::uint32_t occurrence;
    FaultAction action;
    FaultSide on = FaultSide::Write;
    std::optional<std::uint32_t> byte{};  // "corrupt": which byte of the reply or row
};

struct FailureRow {
    const char* name;
    std::vector<Fault> faults;
    std::string message;
    std::string trail;   // what ErrorTrail holds at the end
    std::size_t erases;  // erase packets sent in all
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

const std::string kSuccess = "Firmware upgrade successful!";

class PowerControllerFailureTest : public PowerControllerUpgradeTest,
                                   public ::testing::WithParamInterface<FailureRow> {};

TEST_P(PowerControllerFailureTest, EndsWithItsTrailAndLeavesNoHandleOpen) {
    const FailureRow& row = GetParam();
    for (const auto& fault : row.faults) Fault(fault.request, fault.occurrence, fault.action, fault.on, fault.byte);
    EXPECT_EQ(Run(), row.message);
    EXPECT_EQ(upgrader.ErrorTrail, row.trail);
    EXPECT_EQ(world.Writes("ERASE_FLASH"), row.erases);
    EXPECT_TRUE(upgrader.Handles.empty());
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    EXPECT_TRUE(BootBlockUntouched());
    const auto& pic = world.pic(kSerial);
    if (row.message == kSuccess) {
        EXPECT_TRUE(std::equal(pic.program().begin() + 0x800, pic.program().end(), image.begin() + 0x800));
    } else {
        // A failure after the switch leaves the instrument in its boot loader.
        EXPECT_EQ(pic.mode(), sim::PicMode::BootLoader);
        EXPECT_EQ(world.Writes("BOOT_RESET"), 0u);
    }
}

const std::string kRepeat = "WRITE_FLASH2";

INSTANTIATE_TEST_SUITE_P(
    Rows, PowerControllerFailureTest,
    ::testing::Values(
        FailureRow{"EraseFails", {{"ERASE_FLASH", 3, FaultAction::Fail}},
                   "Error: " + Trail({"ERASE_FLASH", "WriteDataToUSBPic"}), Trail({"ERASE_FLASH", "WriteDataToUSBPic"}), 3},
        FailureRow{"EraseReplyTimesOut", {{"ERASE_FLASH", 1, FaultAction::Timeout, FaultSide::Read}},
                   "Error: " + Trail({"ERASE_FLASH", "WriteDataToUSBPic"}), Trail({"ERASE_FLASH", "WriteDataToUSBPic"}), 1},
        FailureRow{"WriteFails", {{"WRITE_FLASH", 10, FaultAction::Fail}},
                   "Error: " + Trail({"WRITE_FLASH", "WriteDataToUSBPic"}), Trail({"WRITE_FLASH", "WriteDataToUSBPic"}), 5},
        FailureRow{"ReadFails", {{"READ_FLASH", 960, FaultAction::Fail, FaultSide::Read}},
                   "Error: " + Trail({"READ_FLASH", "WriteDataToUSBPic"}), Trail({"READ_FLASH", "WriteDataToUSBPic"}), 480},
        FailureRow{"EepromFails", {{"WRITE_EEDATA", 1, FaultAction::Fail}},
                   "Error: " + Trail({"WRITE_EEDATA", "WriteDataToUSBPic"}), Trail({"WRITE_EEDATA", "WriteDataToUSBPic"}), 480},
        FailureRow{"RowRepeatedOnce", {{"READ_FLASH", 17, FaultAction::Corrupt}}, kSuccess, Trail({"WRITE_FLASH2"}), 480},
        // The row's last byte is compared too: in the read-back reply (5 + 31) and in flash.
        FailureRow{"RowsLastByteReadWrong", {{"READ_FLASH", 17, FaultAction::Corrupt, FaultSide::Write, 36}}, kSuccess,
                   Trail({"WRITE_FLASH2"}), 480},
        FailureRow{"FlashKeepsAWrongLastByte", {{"WRITE_FLASH", 4, FaultAction::Corrupt, FaultSide::Write, 31}},
                   "Error: " + Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}), 2},
        FailureRow{"RowDiffersTwice", {{"READ_FLASH", 17, FaultAction::Corrupt}, {"READ_FLASH", 18, FaultAction::Corrupt}},
                   "Error: " + Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}), 9},
        FailureRow{"FlashKeepsAWrongBit", {{"WRITE_FLASH", 4, FaultAction::Corrupt}},
                   "Error: " + Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}), 2},
        FailureRow{"ShortReadBack", {{"READ_FLASH", 100, FaultAction::Short}},
                   "Error: " + Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "Verification failed", "WriteDataToUSBPic"}), 50},
        FailureRow{"RepeatedWriteFails", {{"READ_FLASH", 17, FaultAction::Corrupt}, {"WRITE_FLASH", 18, FaultAction::Fail}},
                   "Error: " + Trail({"WRITE_FLASH2", "WRITE_FLASH2", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "WRITE_FLASH2", "WriteDataToUSBPic"}), 9},
        FailureRow{"RepeatedReadFails", {{"READ_FLASH", 17, FaultAction::Corrupt}, {"READ_FLASH", 18, FaultAction::Fail, FaultSide::Read}},
                   "Error: " + Trail({"WRITE_FLASH2", "READ_FLASH2", "WriteDataToUSBPic"}),
                   Trail({"WRITE_FLASH2", "READ_FLASH2", "WriteDataToUSBPic"}), 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PowerControllerUpgradeTest, RowRepeatWaitsAndKeepsTheReplyLimit) {
    Fault("READ_FLASH", 17, FaultAction::Corrupt);
    EXPECT_EQ(Run(), kSuccess);
    // Row 16: read back at t; 5 ms, then 200 ms before the repeat; 200 ms after each repeat.
    const auto t = WriteTime("READ_FLASH", 16);
    EXPECT_EQ(WriteTime("WRITE_FLASH", 17) - t, 205'000);
    EXPECT_EQ(WriteTime("READ_FLASH", 17) - t, 405'000);
    EXPECT_EQ(WriteTime("WRITE_FLASH", 18) - t, 605'000);
    EXPECT_EQ(world.Writes("WRITE_FLASH"), 961u);
    EXPECT_EQ(world.Writes("READ_FLASH"), 961u);
    // The repeated write asks for as many bytes as the read before it received.
    EXPECT_EQ(world.bench.select("read", "WRITE_FLASH").at(17).received.size(), 37u);
}

TEST_F(PowerControllerUpgradeTest, RefusalsBeforeAnythingIsWritten) {
    // No package.
    EXPECT_EQ(world.Run(upgrader, (world.folder.path() / "missing.fwu").string()), "The FWU file does not exist.");
    EXPECT_TRUE(world.bench.requests().empty());
    // A file that is not a zip archive.
    const auto junk = world.folder.path() / "junk.fwu";
    std::ofstream(junk) << "this is not an archive";
    TVK101PowConDevice second(world.context());
    EXPECT_EQ(world.Run(second, junk.string()), "The FWU file does not exist.");
    EXPECT_TRUE(world.bench.requests().empty());
    // A package for another family, and one without a manifest.
    for (const auto& members : {std::vector<FwuMember>{{"Bootload.ini", ManifestText(1)}, {"pic_USB.hex", "x"}},
                                std::vector<FwuMember>{{"pic_USB.hex", WriteIntelHex(image)}}}) {
        TVK101PowConDevice device(world.context());
        EXPECT_EQ(world.Run(device, world.Package(members)), "Instrument or FWU file is not VK101!");
        EXPECT_EQ(world.bench.count("write"), 0u);
        EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    }
    EXPECT_TRUE(ProgramUnchanged());
}

TEST_F(PowerControllerUpgradeTest, NoInstrumentTriesTheFixedPath) {
    BenchWorld empty{sim::BenchSpec{}};
    TVK101PowConDevice device(empty.context());
    EXPECT_EQ(empty.Run(device, empty.Package(*DemoPackageMembers(kDemoVk101))), "Instrument is not connected.");
    ASSERT_EQ(empty.bench.count("open"), 1u);
    EXPECT_EQ(empty.bench.requests().at(0).path, "\\\\.\\vkusb-0");
}

TEST_F(PowerControllerUpgradeTest, MissingOrBrokenImageEndsWithTheExceptionMessageBeforeTheSwitch) {
    TVK101PowConDevice noImage(world.context());
    EXPECT_EQ(world.Run(noImage, world.Package({{"Bootload.ini", ManifestText(4)}})), "Error - EXCEPTION");
    EXPECT_EQ(world.bench.count("write"), 0u);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    EXPECT_EQ(world.pic(kSerial).mode(), sim::PicMode::Firmware);

    // A damaged record: refused before any row is erased, with the reason on the debugger output.
    std::string hex = WriteIntelHex(image);
    char& digit = hex[hex.find('\n', 100) - 2];
    digit = digit == '0' ? '1' : '0';
    BenchWorld other{BenchWorld::One(sim::FamilyId::PowerController, kSerial)};
    TVK101PowConDevice damaged(other.context());
    EXPECT_EQ(other.Run(damaged, other.Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", hex}})),
              "Error - EXCEPTION");
    EXPECT_EQ(other.bench.count("write"), 0u);
    ASSERT_FALSE(other.debug.lines.empty());
    EXPECT_THAT(other.debug.lines.back(), HasSubstr("pic_USB.hex"));
    EXPECT_THAT(other.debug.lines.back(), HasSubstr("checksum"));
}

TEST_F(PowerControllerUpgradeTest, HexShapesProgrammedAsTheyReadOrRefusedBeforeAnyRequest) {
    const std::string program = WriteIntelHex(image);
    const std::string eof = ":00000001FF\r\n";
    // PIC18 configuration bytes at 0x300000, then back to address 0 for the program.
    const std::string configuration = WriteIntelHex({0x0E, 0x1F, 0x3A}, 0x300000);
    const std::string configFirst = configuration.substr(0, configuration.size() - eof.size()) +
                                    ":020000040000FA\r\n" + program;
    EXPECT_EQ(Run(), kSuccess);  // the demo package, for the comparison below
    const auto expected = world.pic(kSerial).program();

    struct Shape {
        const char* name;
        std::string hex;
        bool accepted;
    };
    for (const Shape& shape : {Shape{"configuration first", configFirst, true},
                               Shape{"end-of-file record only", eof, false},
                               Shape{"segment record first", ":020000021000EC\r\n" + program, false},
                               Shape{"data after a segment record",
                                     ":020000021000EC\r\n:0100000000FF\r\n" + eof, false},
                               Shape{"no end-of-file record", program.substr(0, program.size() - eof.size()), false}}) {
        SCOPED_TRACE(shape.name);
        BenchWorld other{BenchWorld::One(sim::FamilyId::PowerController, kSerial)};
        TVK101PowConDevice device(other.context());
        const std::string message =
            other.Run(device, other.Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", shape.hex}}));
        if (shape.accepted) {
            EXPECT_EQ(message, kSuccess);
            EXPECT_EQ(other.pic(kSerial).program(), expected);
        } else {
            EXPECT_EQ(message, "Error - EXCEPTION");
            EXPECT_EQ(other.bench.count("write"), 0u);
            EXPECT_EQ(other.pic(kSerial).program(), oldProgram);
        }
    }
}

}  // namespace
}  // namespace rovenza
