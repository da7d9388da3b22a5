// "VKUSB Zenara - Modules" against the bench: which slots are upgraded, the module type
// question, the group checksums, and what each module's flash holds afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/VKZenaraModulDevice.h"
#include "fwu/HexWriter.h"
#include "protocols/Gen2Frames.h"
#include "protocols/VELKUSB_ADC.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

const std::string kSerial = "ZN000001";

// A module image file: 1536 bytes the module never receives, then the image.
std::string ModuleHex(std::size_t imageLength, std::uint32_t seed) {
    std::vector<std::uint8_t> stream(kModuleImageStart, 0xEE);
    const auto image = DemoImage(imageLength, seed);
    stream.insert(stream.end(), image.begin(), image.end());
    return WriteIntelHex(stream);
}

enum class Pkg { Full, WithoutBr, DeviceType3, BareIepe };

// IEPE (16384 bytes) and BR (32768 bytes); a bare IEPE file holds only the 1536 bytes the
// module never receives.
std::vector<FwuMember> ModulePackage(Pkg kind = Pkg::Full) {
    std::vector<FwuMember> members{
        {"Bootload.ini", kind == Pkg::DeviceType3 ? "[Info]\r\nDeviceType=3\r\n" : "[Info]\r\nDeviceType=5\r\n"},
        {"PIC_IEPE.hex", kind == Pkg::BareIepe ? WriteIntelHex(std::vector<std::uint8_t>(kModuleImageStart, 0xEE))
                                               : ModuleHex(0x4000, 1)}};
    if (kind != Pkg::WithoutBr) members.push_back({"PIC_STG.hex", ModuleHex(0x8000, 4)});
    return members;
}

// Whether a module's flash holds `image` from 0x600 followed by the closing group of zeros.
bool HoldsImage(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& image) {
    const auto end = static_cast<std::ptrdiff_t>(0x600 + image.size());
    return flash.size() >= 0x600 + image.size() + 64 && std::equal(image.begin(), image.end(), flash.begin() + 0x600) &&
           std::all_of(flash.begin() + end, flash.begin() + end + 64, [](std::uint8_t b) { return b == 0; });
}

struct ZenaraRow {
    const char* name;
    std::array<std::optional<int>, kModuleSlots> modules;
    std::optional<int> operatorAnswer;  // the module type dialog's answer
    std::vector<sim::FaultRule> faults;
    Pkg package;
    std::string message;
    std::vector<int> programmed;  // slots (from 1) whose flash holds their image afterwards
    std::vector<std::string> debug = {};    // the module channel's debugger lines for the populated slots
    std::vector<int> leftProgramming = {};  // slots still in their programming mode afterwards
};
void PrintTo(const ZenaraRow& row, std::ostream* os) { *os << row.name; }

class ZenaraUpgradeTest : public ::testing::TestWithParam<ZenaraRow> {};

TEST_P(ZenaraUpgradeTest, UpgradesTheModulesItCan) {
    const ZenaraRow& row = GetParam();
    sim::BenchSpec setup = BenchWorld::One(FamilyId::Zenara, kSerial);
    setup.latencyUs = sim::BenchSpec{}.latencyUs;  // the bridge's polls must take time
    setup.instruments[0].modules = row.modules;
    setup.instruments[0].faults = row.faults;
    BenchWorld world(setup);
    world.op.moduleAnswer = row.operatorAnswer;
    TVKZenaraModulDevice upgrader(world.context());
    EXPECT_EQ(world.Run(upgrader, world.Package(ModulePackage(row.package))), row.message);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    const auto& modules = world.bench.secondGen(kSerial).bridge()->modules();
    for (int slot = 1; slot <= kModuleSlots; ++slot) {
        const auto& module = modules[static_cast<std::size_t>(slot - 1)];
        if (!module) continue;
        const auto has = [slot](const std::vector<int>& slots) {
            return std::find(slots.begin(), slots.end(), slot) != slots.end();
        };
        const bool br = module->typeCode() == 4 || (has(row.programmed) && module->typeCode() == 7);
        EXPECT_EQ(HoldsImage(module->flash(), DemoImage(br ? 0x8000 : 0x4000, br ? 4 : 1)), has(row.programmed))
            << "slot " << slot;
        EXPECT_EQ(module->programming(), has(row.leftProgramming)) << "slot " << slot;
    }
    // Every empty slot's type query goes unanswered, is sent once more, and given up; the
    // lines before those are the populated slots'.
    std::vector<std::string> debug;
    for (const auto& line : world.debug.lines)
        if (line.find("VELKUSB_AMPL") != std::string::npos) debug.push_back(line);
    if (row.package != Pkg::DeviceType3 && row.message != "Error - EXCEPTION") {
        for (std::size_t slot = 0; slot < kModuleSlots && !row.modules[kModuleSlots - 1 - slot]; ++slot) {
            ASSERT_GE(debug.size(), 2u);
            EXPECT_EQ(debug.back(), "ERROR - VELKUSB_AMPL_SendReadCmd - A7");
            debug.pop_back();
            EXPECT_EQ(debug.back(), "Retransmit VELKUSB_AMPL_SendReadCmd - A7");
            debug.pop_back();
        }
    }
    EXPECT_EQ(debug, row.debug);
}

const std::optional<int> kEmpty;
sim::FaultRule SlotRule(const char* command, int slot, sim::FaultAction action, std::uint32_t code = 31,
                        std::optional<std::uint32_t> length = std::nullopt,
                        std::optional<std::uint32_t> occurrence = std::nullopt) {
    sim::FaultRule rule{.request = command, .occurrence = occurrence, .action = action, .code = code};
    rule.length = length;
    rule.slot = slot;
    return rule;
}
const char* const kFrom3 = "Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!";
const char* const kOneAndFrom3 =
    "Module 1, Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!";
const char* const kFrom2 = "Module 2, Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!";

INSTANTIATE_TEST_SUITE_P(
    Slots, ZenaraUpgradeTest,
    ::testing::Values(
        ZenaraRow{"TwoPopulated", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {}, Pkg::Full, kFrom3, {1, 2}},
        ZenaraRow{"UnknownTypeAnsweredBr", {7, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, 4, {}, Pkg::Full, kFrom3, {1, 2}},
        ZenaraRow{"UnknownTypeNotAnswered", {7, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {},
                  Pkg::Full, "Module 1, Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!", {2}},
        ZenaraRow{"WrongGroupChecksum", {1, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x50", 2, sim::FaultAction::BadChecksum)}, Pkg::Full, kFrom2, {1}, {}, {2}},
        // The image is loaded before the module enters its programming mode: a missing one ends
        // the run and leaves no module waiting.
        ZenaraRow{"MissingImage", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {}, Pkg::WithoutBr,
                  "Error - EXCEPTION", {1}},
        // 1536 data bytes or fewer would program the module with zeros: refused the same way.
        ZenaraRow{"BareImage", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {}, Pkg::BareIepe,
                  "Error - EXCEPTION", {}},
        ZenaraRow{"PackageOfAnotherFamily", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {},
                  Pkg::DeviceType3, "Instrument or FWU file is not Zenara Module!", {}},
        // A status other than 0 or 9 is neither sent again nor logged.
        ZenaraRow{"EnterProgrammingRefused", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x54", 1, sim::FaultAction::Fail)}, Pkg::Full, kOneAndFrom3, {2}},
        ZenaraRow{"LeaveProgrammingRefused", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x53", 2, sim::FaultAction::Fail)}, Pkg::Full, kFrom2, {1, 2}, {}, {2}},
        // An answer of two bytes to a group is not its checksum, even when its first byte is.
        ZenaraRow{"TwoByteChecksum", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x50", 1, sim::FaultAction::BadChecksum, 31, 2)}, Pkg::Full, kOneAndFrom3, {2}, {},
                  {1}},
        // Status 9 once: the type query is sent again and the module upgraded.
        ZenaraRow{"BusyOnceRetransmitted", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0xA7", 2, sim::FaultAction::Fail, 9, std::nullopt, 1)}, Pkg::Full, kFrom3, {1, 2},
                  {"Retransmit VELKUSB_AMPL_SendReadCmd - A7"}},
        // An acknowledgement of two valid bytes has no 0xA5 to go by: sent again, then given up.
        ZenaraRow{"ShortAcknowledgement", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x54", 1, sim::FaultAction::Short, 31, 2)}, Pkg::Full, kOneAndFrom3, {2},
                  {"Retransmit VELKUSB_AMPL_SendCmd - 54", "ERROR - VELKUSB_AMPL_SendCmd - 54"}, {1}},
        ZenaraRow{"AllEight", {1, 1, 1, 1, 1, 1, 1, 1}, std::nullopt, {}, Pkg::Full, "Firmware upgrade successful!",
                  {1, 2, 3, 4, 5, 6, 7, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

// The word commands of the recorded I2C_WRITE requests, in order.
std::vector<Words> WordCommands(const std::vector<sim::RecordedRequest>& writes) {
    std::vector<Words> words;
    for (const auto& write : writes) {
        WordFrame frame{};
        if (write.sent.size() == 3 + frame.size()) std::copy(write.sent.begin() + 3, write.sent.end(), frame.begin());
        words.push_back(UnpackWordFrame(frame));
    }
    return words;
}

// Where a run of word writes (command 19) carries `frame`, one word after the other, to the
// module in slot index `slot`: the position of each run's first word.
std::vector<std::size_t> FrameWrites(const std::vector<Words>& commands, std::uint32_t slot,
                                     const std::vector<std::uint32_t>& frame) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i + frame.size() <= commands.size(); ++i) {
        std::size_t k = 0;
        while (k < frame.size() && commands[i + k] == Words{19, slot, frame[k]}) ++k;
        if (k == frame.size()) found.push_back(i);
    }
    return found;
}

// A 16384-byte image goes out in 2056 blocks: 256 groups of image and the closing group of
// zeros. When the I2C_WRITE of one block fails, that module is given up at once and the run
// goes on with the next slot.
TEST(ZenaraUpgrade, BlocksOfAWholeImageAndAFailingBlockWrite) {
    sim::BenchSpec setup = BenchWorld::One(FamilyId::Zenara, kSerial);
    setup.latencyUs = sim::BenchSpec{}.latencyUs;
    setup.instruments[0].modules = {1, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty};
    const auto image = DemoImage(0x4000, 1);
    auto blockWords = [&](std::uint32_t address) {
        std::vector<std::uint8_t> block{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
        for (std::uint32_t i = 0; i < 8; ++i) {
            const std::uint32_t at = address - 0x600 + i;
            block.push_back(at < image.size() ? image[at] : 0);
        }
        return ModuleCommandWords(0x50, block);
    };
    std::size_t failAt = 0;
    {
        BenchWorld world(setup);
        TVKZenaraModulDevice upgrader(world.context());
        ASSERT_EQ(world.Run(upgrader, world.Package(ModulePackage())), kFrom3);
        const auto writes = WordCommands(world.bench.select("write2", "I2C_WRITE"));
        for (std::uint32_t slot : {0u, 1u}) {
            std::size_t blocks = 0;
            for (std::uint32_t address = 0x600; address < 0x600 + 0x4000 + 64; address += 8)
                blocks += FrameWrites(writes, slot, blockWords(address)).size();
            EXPECT_EQ(blocks, 2056u) << "slot " << slot;
            EXPECT_EQ(FrameWrites(writes, slot, blockWords(0x600 + 0x4000 + 64)).size(), 0u) << "nothing after";
        }
        // The second word of the second group's third block, to slot 1.
        const auto struck = FrameWrites(writes, 0, blockWords(0x650));
        ASSERT_EQ(struck.size(), 1u);
        failAt = struck[0] + 2;
    }
    setup.instruments[0].faults = {{.request = "I2C_WRITE", .occurrence = static_cast<std::uint32_t>(failAt)}};
    BenchWorld world(setup);
    TVKZenaraModulDevice upgrader(world.context());
    EXPECT_EQ(world.Run(upgrader, world.Package(ModulePackage())), kOneAndFrom3);
    const auto writes = world.bench.select("write2", "I2C_WRITE");
    EXPECT_EQ(writes[failAt - 1].fault, "fail");
    // Nothing more reaches slot 1; slot 2 is upgraded whole.
    const auto commands = WordCommands(writes);
    for (std::size_t i = failAt; i < commands.size(); ++i) EXPECT_NE(commands[i].w1, 0u) << i;
    const auto& modules = world.bench.secondGen(kSerial).bridge()->modules();
    EXPECT_FALSE(HoldsImage(modules[0]->flash(), image));
    EXPECT_TRUE(HoldsImage(modules[1]->flash(), image));
}

// Several instruments: the run is successful only when every one upgraded every module; the
// failing one is named with its place in the run, whichever it is.
TEST(ZenaraUpgrade, SeveralInstrumentsNameTheOneThatFailed) {
    for (const std::size_t failing : {0u, 1u}) {
        sim::BenchSpec setup = BenchWorld::One(FamilyId::Zenara, kSerial);
        setup.latencyUs = sim::BenchSpec{}.latencyUs;
        setup.instruments[0].modules = {1, 1, 1, 1, 1, 1, 1, 1};
        setup.instruments.push_back(setup.instruments[0]);
        setup.instruments[1].serial = "ZN000002";
        setup.instruments[failing].faults = {SlotRule("0x54", 3, sim::FaultAction::Fail)};
        BenchWorld world(setup);
        TVKZenaraModulDevice upgrader(world.context());
        const std::string place = "Device " + std::to_string(failing + 1) + "/2 - ";
        EXPECT_EQ(world.Run(upgrader, world.Package(ModulePackage())), place + "Module 3 cannot be upgraded!");
        ASSERT_EQ(world.op.deviceQuestions.size(), 1u);
        EXPECT_EQ(world.op.deviceQuestions[0].size(), 2u);
        EXPECT_EQ(upgrader.GetStageText(), "Device 2/2 - Uploading Module 8");
        for (std::size_t i = 0; i < 2; ++i) {
            const auto& modules = world.bench.secondGen(setup.instruments[i].serial).bridge()->modules();
            for (std::size_t slot = 0; slot < kModuleSlots; ++slot) {
                EXPECT_EQ(HoldsImage(modules[slot]->flash(), DemoImage(0x4000, 1)), i != failing || slot != 2)
                    << "instrument " << i << " slot " << slot + 1;
            }
        }
    }
}

TEST(ZenaraUpgrade, ProgressAndTheTypeQuestion) {
    sim::BenchSpec setup = BenchWorld::One(FamilyId::Zenara, kSerial);
    setup.latencyUs = sim::BenchSpec{}.latencyUs;
    setup.instruments[0].modules = {7, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty};
    BenchWorld world(setup);
    world.op.moduleAnswer = 1;
    TVKZenaraModulDevice upgrader(world.context());
    EXPECT_EQ(upgrader.GetTotalCount(), -1536);
    world.Run(upgrader, world.Package(ModulePackage()));
    EXPECT_EQ(world.op.moduleQuestions, std::vector<int>{0});  // slot index from 0
    // The last slot tried was empty; the first slot's 16384 bytes set the total.
    EXPECT_EQ(upgrader.GetTotalCount(), 0x4000 - 1536);
    EXPECT_EQ(upgrader.GetStageText(), "Uploading Module 8");
}

}  // namespace
}  // namespace rovenza
