// Several first-generation instruments on one bench: the upgrade programs the instrument it
// switched into its boot loader and no other, never guesses between two, and calls a run
// successful only when the instrument shows its new firmware again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "fwu/DemoPackage.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultSide;
using sim::FamilyId;

const std::string kSuccess = "Firmware upgrade successful!";
const std::string kNotRunning = "Error: \x0A\x0DNot running the new firmware";

struct Attached {
    FamilyId family;
    std::string serial;
    bool bootLoader = false;
    std::optional<std::uint32_t> arrivesMs{};
};

sim::BenchSpec BenchOf(const std::vector<Attached>& attached) {
    sim::BenchSpec setup;
    for (const auto& a : attached) {
        sim::InstrumentSpec instrument;
        instrument.family = a.family;
        instrument.serial = a.serial;
        instrument.bootLoader = a.bootLoader;
        instrument.arrivesMs = a.arrivesMs;
        setup.instruments.push_back(instrument);
    }
    return setup;
}

std::string_view DemoName(FamilyId family) {
    switch (family) {
        case FamilyId::IrigClock: return kDemoIrig;
        case FamilyId::Ulmo: return kDemoUlmo;
        default: return kDemoVk101;
    }
}

// What an instrument holds, to tell "programmed with the package" from "left alone".
struct Memories {
    sim::PicMode mode;
    sim::Bytes program, fpga, can;
    bool operator==(const Memories&) const = default;
};

Memories MemoriesOf(const sim::PicInstrument& pic) { return {pic.mode(), pic.program(), pic.fpga(), pic.can()}; }

bool HoldsThePackage(const sim::PicInstrument& pic, FamilyId family) {
    const auto usb = DemoUsbPicImage();
    if (!std::equal(pic.program().begin() + 0x800, pic.program().end(), usb.begin() + 0x800)) return false;
    if (family == FamilyId::IrigClock) {
        const auto fpga = DemoFpgaImage();
        return pic.fpga().size() >= fpga.size() && std::equal(fpga.begin(), fpga.end(), pic.fpga().begin());
    }
    if (family == FamilyId::Ulmo) {
        const auto can = DemoCanImage();
        return std::equal(can.begin() + 0x600, can.end(), pic.can().begin() + 0x600);
    }
    return true;
}

struct ChoiceRow {
    const char* name;
    std::vector<Attached> attached;
    FamilyId upgrade;
    std::string message;
    std::string programmed;  // the serial that ends up holding the package; empty: none
    std::string switched;    // the serial left in its boot loader by a failed run; empty: none
};
void PrintTo(const ChoiceRow& row, std::ostream* os) { *os << row.name; }

class ChosenInstrumentTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(ChosenInstrumentTest, ProgramsTheSwitchedInstrumentAndNoOther) {
    const ChoiceRow& row = GetParam();
    BenchWorld world(BenchOf(row.attached));
    std::map<std::string, Memories> before;
    for (const auto& a : row.attached) before.emplace(a.serial, MemoriesOf(world.pic(a.serial)));

    auto upgrader = CreateUpgrader(static_cast<int>(row.upgrade), world.context());
    EXPECT_EQ(world.Run(*upgrader, world.Package(*DemoPackageMembers(DemoName(row.upgrade)))), row.message);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    for (const auto& a : row.attached) {
        const auto& pic = world.pic(a.serial);
        SCOPED_TRACE(a.serial);
        if (a.serial == row.programmed) {
            EXPECT_TRUE(HoldsThePackage(pic, row.upgrade));
            EXPECT_EQ(pic.mode(), sim::PicMode::Firmware);
        } else if (a.serial == row.switched) {
            EXPECT_EQ(pic.mode(), sim::PicMode::BootLoader);
            EXPECT_EQ(pic.program(), before.at(a.serial).program);
        } else {
            // Left alone: not a single request reached it.
            EXPECT_TRUE(MemoriesOf(pic) == before.at(a.serial));
            for (const auto& request : world.bench.requests()) EXPECT_NE(request.serial, a.serial) << request.call;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Benches, ChosenInstrumentTest,
    ::testing::Values(
        ChoiceRow{"Vk101BesideAnIrigClockInItsBootLoader",
                  {{FamilyId::IrigClock, "IC000001", true}, {FamilyId::PowerController, "PC000001"}},
                  FamilyId::PowerController, kSuccess, "PC000001", ""},
        ChoiceRow{"Vk101BesideAnotherInItsBootLoader",
                  {{FamilyId::PowerController, "PC000002", true}, {FamilyId::PowerController, "PC000001"}},
                  FamilyId::PowerController, kSuccess, "PC000001", ""},
        ChoiceRow{"IrigClockBesideAUlmoInItsBootLoader",
                  {{FamilyId::Ulmo, "UL000001", true}, {FamilyId::IrigClock, "IC000001"}}, FamilyId::IrigClock,
                  kSuccess, "IC000001", ""},
        // The second clock is the only one in firmware while the first restarts: the FPGA
        // stage must wait for the first to come back rather than take the second.
        ChoiceRow{"TwoIrigClocks",
                  {{FamilyId::IrigClock, "IC000001"}, {FamilyId::IrigClock, "IC000002"}}, FamilyId::IrigClock,
                  kSuccess, "IC000001", ""},
        ChoiceRow{"TwoUlmos", {{FamilyId::Ulmo, "UL000001"}, {FamilyId::Ulmo, "UL000002"}}, FamilyId::Ulmo,
                  kSuccess, "UL000001", ""},
        // The fixed path reaches the first instrument on the bus: never another family's.
        ChoiceRow{"Vk101UpgradeWithOnlyAnIrigClock", {{FamilyId::IrigClock, "IC000001"}}, FamilyId::PowerController,
                  "Instrument is not connected.", "", ""},
        ChoiceRow{"IrigUpgradeWithOnlyAVk101", {{FamilyId::PowerController, "PC000001"}}, FamilyId::IrigClock,
                  "Instrument is not connected.", "", ""},
        ChoiceRow{"Vk101UpgradeWithTwoBootLoaders",
                  {{FamilyId::IrigClock, "IC000001", true}, {FamilyId::PowerController, "PC000001", true}},
                  FamilyId::PowerController, "Instrument is not connected.", "", ""},
        ChoiceRow{"Vk101UpgradeWithABootLoaderBesideAnotherFamily",
                  {{FamilyId::IrigClock, "IC000001", true}, {FamilyId::Ulmo, "UL000001"}},
                  FamilyId::PowerController, "Instrument is not connected.", "", ""},
        // A power controller left in its boot loader is still found through the fixed path.
        ChoiceRow{"Vk101AloneInItsBootLoader", {{FamilyId::PowerController, "PC000001", true}},
                  FamilyId::PowerController, kSuccess, "PC000001", ""},
        // Two boot loaders appear after the switch: neither is programmed.
        ChoiceRow{"TwoNewBootLoadersAfterTheSwitch",
                  {{FamilyId::IrigClock, "IC000001"}, {FamilyId::IrigClock, "IC000002", true, 1000}},
                  FamilyId::IrigClock, "Error: \x0A\x0DGoBootLoad", "", "IC000001"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChosenInstrument, TwoNewBootLoadersEndTheSearchAtOnce) {
    BenchWorld world(BenchOf({{FamilyId::IrigClock, "IC000001"}, {FamilyId::IrigClock, "IC000002", true, 1000}}));
    auto upgrader = CreateUpgrader(static_cast<int>(FamilyId::IrigClock), world.context());
    world.Run(*upgrader, world.Package(*DemoPackageMembers(kDemoIrig)));
    // Closed after the switch, 2000 ms, then the first attempt at 3000 ms sees both.
    EXPECT_EQ(world.bench.nowUs() - world.bench.select("close").at(0).timeUs, 3'000'000);
    EXPECT_EQ(world.bench.count("write", "ERASE_FLASH"), 0u);
    EXPECT_THAT(world.debug.lines, ::testing::Contains(::testing::HasSubstr("Several instruments appeared")));
}

// Success means the new firmware runs: after the last restart the interface walk is watched
// for up to 30 s for the same instrument in its firmware.
struct RestartRow {
    const char* name;
    FamilyId family;
    std::vector<sim::FaultRule> faults;
    std::uint32_t resetMs;  // bootResetMs (power controller) or fpgaResetMs (IRIG clock)
    std::string message;
    std::int64_t watchedMs;  // how long the run went on after the protocol's last wait
};
void PrintTo(const RestartRow& row, std::ostream* os) { *os << row.name; }

class NewFirmwareTest : public ::testing::TestWithParam<RestartRow> {};

TEST_P(NewFirmwareTest, SuccessOnlyWhenTheInstrumentShowsItsFirmware) {
    const RestartRow& row = GetParam();
    const std::string serial = "SN000001";
    sim::BenchSpec setup = BenchWorld::One(row.family, serial);
    setup.instruments[0].bootResetMs = row.family == FamilyId::PowerController ? row.resetMs : 3000;
    setup.instruments[0].fpgaResetMs = row.resetMs;
    setup.instruments[0].faults = row.faults;
    BenchWorld world(setup);
    auto upgrader = CreateUpgrader(static_cast<int>(row.family), world.context());
    EXPECT_EQ(world.Run(*upgrader, world.Package(*DemoPackageMembers(DemoName(row.family)))), row.message);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    EXPECT_TRUE(upgrader->Handles.empty());

    // The watch sends nothing: the last request is the close behind the reset, and the run
    // ends the protocol's wait (5000 ms after the boot loader's close; the FPGA reset's 1000 ms
    // come before its close) plus the watch after it.
    const auto& last = world.bench.requests().back();
    EXPECT_EQ(last.call, "close");
    const std::int64_t partWaitUs = row.family == FamilyId::PowerController ? 5'000'000 : 0;
    EXPECT_EQ(world.bench.nowUs() - last.timeUs - partWaitUs, row.watchedMs * 1000);
}

sim::FaultRule Rule(const char* request, std::uint32_t occurrence, FaultAction action,
                    FaultSide on = FaultSide::Write) {
    return {.request = request, .occurrence = occurrence, .action = action, .on = on};
}

INSTANTIATE_TEST_SUITE_P(
    Restarts, NewFirmwareTest,
    ::testing::Values(
        RestartRow{"Vk101Healthy", FamilyId::PowerController, {}, 3000, kSuccess, 0},
        // The reply is lost as the microcontroller restarts: that is how a reset looks.
        RestartRow{"Vk101ResetReplyLost", FamilyId::PowerController,
                   {Rule("BOOT_RESET", 1, FaultAction::Fail, FaultSide::Read)}, 3000, kSuccess, 0},
        RestartRow{"Vk101SlowRestart", FamilyId::PowerController, {}, 20000, kSuccess, 15000},
        RestartRow{"Vk101ResetLost", FamilyId::PowerController, {Rule("BOOT_RESET", 1, FaultAction::Fail)}, 3000,
                   kNotRunning, 30000},
        RestartRow{"Vk101VanishesOnTheReset", FamilyId::PowerController, {Rule("BOOT_RESET", 1, FaultAction::Vanish)},
                   3000, kNotRunning, 30000},
        RestartRow{"Vk101NeverComesBack", FamilyId::PowerController, {Rule("BOOT_RESET", 1, FaultAction::Never)}, 3000,
                   kNotRunning, 30000},
        RestartRow{"Vk101TooSlow", FamilyId::PowerController, {}, 35500, kNotRunning, 30000},
        // The IRIG clock is off the bus for 3000 ms after the FPGA reset, 2000 ms past the wait.
        RestartRow{"IrigHealthy", FamilyId::IrigClock, {}, 3000, kSuccess, 2000},
        RestartRow{"IrigFpgaResetLost", FamilyId::IrigClock, {Rule("BOOT_RESET", 2, FaultAction::Fail)}, 3000,
                   kNotRunning, 0},
        RestartRow{"IrigNeverBackAfterTheFpgaReset", FamilyId::IrigClock, {Rule("BOOT_RESET", 2, FaultAction::Never)},
                   3000, kNotRunning, 30000},
        RestartRow{"IrigBackLate", FamilyId::IrigClock, {}, 25000, kSuccess, 24000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
