// The host's waits, family by family: a clean upgrade in virtual time makes exactly the waits its
// protocol gives, each as long as asked, and they and the bench's own waits inside requests
// account for every moment of the run.
#include <gtest/gtest.h>

#include <map>

#include "devices/Families.h"
#include "devices/USBDevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "sim/SimulatedBench.h"
#include "support/RecordingPlatform.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::FamilyId;

// Module types of a full Zenara instrument, one in each slot.
constexpr std::array<int, kModuleSlots> kZenaraModules{1, 2, 3, 4, 5, 6, 1, 4};

// The group checksum reads of a full Zenara run: one per 64-byte group of each module's image
// buffer and one for the closing group of zeros.
std::size_t ZenaraGroups() {
    std::size_t groups = 0;
    for (const int code : kZenaraModules) groups += FindModuleType(code)->imageLength / 64 + 1;
    return groups;
}

struct WaitsRow {
    const char* name;
    FamilyId family;
    std::string_view demo;
    std::map<std::int64_t, std::size_t> waits;  // length in ms -> how many
    std::int64_t benchWaitUs;                   // the bench's own waits inside requests, but polls
    std::size_t pollsPerWordFrame = 0;          // Zenara: bridge polls until a reply is ready
};

void PrintTo(const WaitsRow& row, std::ostream* os) { *os << row.name; }

std::vector<WaitsRow> Rows() {
    // First generation: 5 ms after each of the 480 erases, 960 writes and 960 reads of the rows,
    // 25 ms after the EEPROM byte, 2 s for the switch to the boot loader and 1 s before each
    // reopen (it is back 2.5 s after the switch), 5 s for the restart into the new firmware; the
    // IRIG clock and the ULMO then wait 4 s before reopening it.
    std::map<std::int64_t, std::size_t> pic{{5, 2400}, {25, 1}, {1000, 1}, {2000, 1}, {5000, 1}};
    std::map<std::int64_t, std::size_t> ulmo = pic;
    ulmo[4000] = 1;
    // The IRIG clock also waits 1 s after its second FPGA command and after its reset, then
    // looks at the interface list every 500 ms until the new firmware shows (3 s after the
    // reset); its programming-mode command takes the instrument 1.2 s to answer.
    std::map<std::int64_t, std::size_t> irig = ulmo;
    irig[500] = 4;
    irig[1000] = 3;
    return {
        {"Vk101", FamilyId::PowerController, kDemoVk101, pic, 0},
        {"IrigClock", FamilyId::IrigClock, kDemoIrig, irig, 1'200'000},
        {"Ulmo", FamilyId::Ulmo, kDemoUlmo, ulmo, 0},
        // 4 s before reopening after the EEPROM write; 1 s before the erase, 100 ms per status
        // poll through the 6 s erase, 10 s after it, 1 s after opening the image and before the
        // verify pass.
        {"Velkaro", FamilyId::Velkaro, kDemoVelkaro, {{100, 60}, {1000, 3}, {4000, 1}, {10000, 1}}, 0},
        // 200 ms after each bit of the slot mask, 50 ms after entering and leaving programming
        // mode, 20 ms before each group's checksum; the bridge is polled, one 125 us microframe
        // a poll, six polls until its 700 us reply time has passed, per word frame.
        {"Zenara", FamilyId::Zenara, kDemoZenara, {{20, ZenaraGroups()}, {50, 16}, {200, 8}}, 0, 6},
    };
}

class ProtocolWaitsTest : public ::testing::TestWithParam<WaitsRow> {};

TEST_P(ProtocolWaitsTest, ACleanRunWaitsExactlyWhatItsProtocolGives) {
    const WaitsRow& row = GetParam();
    sim::BenchSpec setup;
    setup.latencyUs = 0;
    sim::InstrumentSpec instrument;
    instrument.family = row.family;
    instrument.serial = "WT000001";
    for (std::size_t slot = 0; row.family == FamilyId::Zenara && slot < kModuleSlots; ++slot)
        instrument.modules[slot] = kZenaraModules[slot];
    setup.instruments = {instrument};
    // A full Zenara run is about a million requests: none is kept, nor any wait.
    sim::SimulatedBench bench(setup, sim::RecorderSetup{.keep = false});

    TempDir folder;
    RecordingDebug debug;
    RecordingOperator op;
    const auto package = folder.path() / "package.fwu";
    WriteFwu(package, *DemoPackageMembers(row.demo));
    std::string message;
    {
        const Context ctx{bench.driver(), bench.interfaces(), bench.clock(), debug, op, folder.path()};
        auto upgrader = CreateUpgrader(static_cast<int>(row.family), ctx);
        upgrader->PackageFileName = package.string();
        upgrader->Upgrade(message);
    }
    ASSERT_EQ(message, kMsgSuccess);
    EXPECT_TRUE(bench.waits().empty());

    std::map<std::int64_t, std::size_t> counts;
    std::int64_t askedUs = 0;
    for (const auto& [lengthUs, totals] : bench.bench().waits().byLength()) {
        counts[lengthUs / 1000] = totals.count;
        askedUs += lengthUs * static_cast<std::int64_t>(totals.count);
        EXPECT_EQ(totals.tookUs, totals.askedUs) << lengthUs << " us";
    }
    EXPECT_EQ(counts, row.waits);
    const sim::WaitTotals totals = bench.waitTotals();
    EXPECT_EQ(totals.askedUs, askedUs);
    EXPECT_EQ(totals.tookUs, askedUs);
    EXPECT_EQ(totals.shorter, 0u);
    const std::size_t polls = bench.count("write2", "I2C_POLL");
    EXPECT_EQ(polls, row.pollsPerWordFrame * bench.count("write2", "I2C_WRITE"));
    EXPECT_EQ(bench.benchWaitUs(), row.benchWaitUs + static_cast<std::int64_t>(polls * sim::kMinPollUs));
    // Virtual time moves only by waits.
    EXPECT_EQ(bench.nowUs(), totals.askedUs + bench.benchWaitUs());
}

INSTANTIATE_TEST_SUITE_P(Families, ProtocolWaitsTest, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
