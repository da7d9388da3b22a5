// A front end's request to stop (Context::stop): each family stops at its next point where the
// instrument can be left as it is, never inside an exchange, and keeps where it stopped as the
// run's reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "devices/Families.h"
#include "devices/TERVADevice.h"
#include "devices/USBDevice.h"
#include "fwu/DemoPackage.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

// Asks the run to stop at the first wait at which `when` holds.
class StoppingClock final : public Clock {
public:
    StoppingClock(Clock& inner, std::atomic<bool>& stop) : inner_(inner), stop_(stop) {}
    std::function<bool()> when;
    void sleep(std::uint32_t ms) override {
        if (when && when()) stop_ = true;
        inner_.sleep(ms);
    }
    std::int64_t counter() override { return inner_.counter(); }
    std::int64_t frequency() override { return inner_.frequency(); }

private:
    Clock& inner_;
    std::atomic<bool>& stop_;
};

struct StopRow {
    const char* name;
    FamilyId family;
    std::string_view demo;
    std::string stage;       // the stop is asked at the first wait of this stage ...
    std::int64_t done;       // ... once this much is done
    int skip;                // ... and this many such waits have passed
    std::string reason;      // a regular expression
    std::vector<std::pair<std::string, std::size_t>> writes;  // requests written, and how often
};
void PrintTo(const StopRow& row, std::ostream* os) { *os << row.name; }

class StopTest : public ::testing::TestWithParam<StopRow> {};

TEST_P(StopTest, StopsAtTheNextSafePoint) {
    const StopRow& row = GetParam();
    sim::BenchSpec setup = BenchWorld::One(row.family, "XX000001");
    setup.latencyUs = sim::BenchSpec{}.latencyUs;
    if (row.family == FamilyId::Zenara) setup.instruments[0].modules = {1, 1};  // two IEPE modules
    BenchWorld world(setup);
    std::atomic<bool> stop{false};
    StoppingClock clock(world.bench.clock(), stop);
    const Context ctx{world.bench.driver(), world.bench.interfaces(), clock, world.debug, world.op,
                      world.folder.path(), nullptr, &stop};
    const auto upgrader = CreateUpgrader(static_cast<int>(row.family), ctx);
    int passed = 0;
    clock.when = [&] {
        return upgrader->GetStageText() == row.stage && upgrader->GetDoneCount() >= row.done && passed++ >= row.skip;
    };

    world.Run(*upgrader, world.Package(*DemoPackageMembers(row.demo)));
    EXPECT_TRUE(upgrader->Stopped());
    ASSERT_TRUE(upgrader->Reason().has_value());
    EXPECT_EQ(upgrader->Reason()->kind, ReasonKind::Stopped);
    EXPECT_THAT(upgrader->Reason()->text, ::testing::MatchesRegex(row.reason));
    for (const auto& [command, count] : row.writes)
        EXPECT_EQ(world.Writes(command) + world.bench.count("write2", command), count) << command;
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    if (row.family == FamilyId::Zenara) {
        // The first module was written and left its programming mode; the second never began.
        const auto& modules = world.bench.secondGen("XX000001").bridge()->modules();
        EXPECT_FALSE(modules[0]->programming());
        EXPECT_GT(modules[0]->blocksStored(), 0u);
        EXPECT_EQ(modules[1]->blocksStored(), 0u);
        EXPECT_FALSE(modules[1]->programming());
    }
}

TEST(StopTest, NoStopWithoutTheFrontEndsFlag) {
    BenchWorld world(BenchWorld::One(FamilyId::PowerController, "PC000001"));
    const auto upgrader = CreateUpgrader(static_cast<int>(FamilyId::PowerController), world.context());
    EXPECT_EQ(world.Run(*upgrader, world.Package(*DemoPackageMembers(kDemoVk101))), kMsgSuccess);
    EXPECT_FALSE(upgrader->Stopped());
    EXPECT_FALSE(upgrader->Reason().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Families, StopTest,
    ::testing::Values(
        // Between rows: as many rows read back as written, no reset, the boot loader stays.
        StopRow{"PicRows", FamilyId::PowerController, kDemoVk101, "Uploading", 100, 0,
                "stopped after row 100 of 960 of instrument XX000001's program memory; it stays in its boot loader",
                {{"WRITE_FLASH", 100}, {"READ_FLASH", 100}, {"WRITE_EEDATA", 0}, {"BOOT_RESET", 0}}},
        // The FPGA's programming mode waits a second; the stop comes before the second block.
        StopRow{"FpgaBlocks", FamilyId::IrigClock, kDemoIrig, "FPGA uploading", 0, 0,
                "stopped after block 1 of 4093 of instrument XX000001's FPGA configuration",
                {{"FPGA_WRITE", 1}, {"FPGA_READ", 1}}},
        // Asked in the wait for the restart after the USB image (not the wait after the reset
        // itself): the CAN upload stops after its first block.
        StopRow{"CanBlocks", FamilyId::Ulmo, kDemoUlmo, "USB Pic uploading", 962, 1,
                "stopped after block 1 of 1000 of instrument XX000001's CAN image",
                {{"CAN_FIRST", 1}, {"CAN_SECOND", 1}, {"CAN_FINISH", 0}}},
        // Before the erase's first status poll: the flash is erased and left empty.
        StopRow{"FlashErase", FamilyId::Velkaro, kDemoVelkaro, "FPGA uploading", 0, 0,
                "stopped while instrument XX000001's configuration flash was erased; the flash is left empty",
                {{"FLASH_ERASE", 1}, {"FLASH_WRITE", 0}}},
        // The pause between writing and verifying the flash; the verify stops after a block.
        StopRow{"FlashVerify", FamilyId::Velkaro, kDemoVelkaro, "FPGA uploading", 2 * 8192 + 131072, 0,
                "stopped at byte 32 of 131072 of instrument XX000001's configuration flash \\(verifying\\)",
                {{"FLASH_WRITE", 4096}, {"FLASH_READ", 1}}},
        // The next module is not begun.
        StopRow{"Modules", FamilyId::Zenara, kDemoZenara, "Uploading Module 1", 0, 0,
                "stopped before module 2 of instrument XX000001", {}}));

}  // namespace
}  // namespace rovenza
