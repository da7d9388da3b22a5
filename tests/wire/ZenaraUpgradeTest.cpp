// "VKUSB Zenara - Modules" against the bench: which slots are upgraded, the module type
// question, the group checksums, and what each module's flash holds afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/VKZenaraModulDevice.h"
#include "fwu/HexWriter.h"
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

std::vector<FwuMember> ModulePackage(bool withBr = true) {
    std::vector<FwuMember> members{{"Bootload.ini", "[Info]\r\nDeviceType=5\r\n"},
                                   {"PIC_IEPE.hex", ModuleHex(0x4000, 1)}};
    if (withBr) members.push_back({"PIC_STG.hex", ModuleHex(0x8000, 4)});
    return members;
}

struct ZenaraRow {
    const char* name;
    std::array<std::optional<int>, kModuleSlots> modules;
    std::optional<int> operatorAnswer;  // the module type dialog's answer
    std::vector<sim::FaultRule> faults;
    bool withBr;
    std::string message;
    std::vector<int> programmed;  // slots (from 1) whose flash holds their image afterwards
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
    EXPECT_EQ(world.Run(upgrader, world.Package(ModulePackage(row.withBr))), row.message);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    const auto& modules = world.bench.secondGen(kSerial).bridge()->modules();
    for (int slot = 1; slot <= kModuleSlots; ++slot) {
        const auto& module = modules[static_cast<std::size_t>(slot - 1)];
        if (!module) continue;
        const bool programmed = std::find(row.programmed.begin(), row.programmed.end(), slot) != row.programmed.end();
        const bool br = module->typeCode() == 4 || (programmed && module->typeCode() == 7);
        const auto image = DemoImage(br ? 0x8000 : 0x4000, br ? 4 : 1);
        const auto& flash = module->flash();
        const bool holds = flash.size() >= 0x600 + image.size() + 64 &&
                           std::equal(image.begin(), image.end(), flash.begin() + 0x600) &&
                           std::all_of(flash.begin() + 0x600 + static_cast<std::ptrdiff_t>(image.size()),
                                       flash.begin() + 0x640 + static_cast<std::ptrdiff_t>(image.size()),
                                       [](std::uint8_t b) { return b == 0; });
        EXPECT_EQ(holds, programmed) << "slot " << slot;
    }
}

const std::optional<int> kEmpty;
sim::FaultRule SlotRule(const char* command, int slot, sim::FaultAction action) {
    sim::FaultRule rule{.request = command, .action = action};
    rule.slot = slot;
    return rule;
}

INSTANTIATE_TEST_SUITE_P(
    Slots, ZenaraUpgradeTest,
    ::testing::Values(
        ZenaraRow{"TwoPopulated", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {}, true,
                  "Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!", {1, 2}},
        ZenaraRow{"UnknownTypeAnsweredBr", {7, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, 4, {}, true,
                  "Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!", {1, 2}},
        ZenaraRow{"UnknownTypeNotAnswered", {7, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {},
                  true, "Module 1, Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!", {2}},
        ZenaraRow{"WrongGroupChecksum", {1, 1, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt,
                  {SlotRule("0x50", 2, sim::FaultAction::BadChecksum)}, true,
                  "Module 2, Module 3, Module 4, Module 5, Module 6, Module 7, Module 8 cannot be upgraded!", {1}},
        // The image is loaded before the module enters its programming mode: a missing one ends
        // the run and leaves no module waiting.
        ZenaraRow{"MissingImage", {1, 4, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}, std::nullopt, {}, false,
                  "Error - EXCEPTION", {1}},
        ZenaraRow{"AllEight", {1, 1, 1, 1, 1, 1, 1, 1}, std::nullopt, {}, true, "Firmware upgrade successful!",
                  {1, 2, 3, 4, 5, 6, 7, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

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
