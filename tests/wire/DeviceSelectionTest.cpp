// Opening and choosing second-generation instruments against the bench: which handles stay
// open, in which order, what the selection dialog is asked, and what each instrument receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/VKZenaraModulDevice.h"
#include "support/BenchFixture.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

// With the bench's USB latency: a Zenara upgrader polls the module bridge, which only time
// ends.
sim::BenchSpec Velkaros(const std::vector<std::string>& serials) {
    sim::BenchSpec setup;
    for (const auto& serial : serials) setup.instruments.push_back(BenchInstrument(FamilyId::Velkaro, serial));
    return setup;
}

// The second-generation base on its own: a family that opens and does nothing else.
class Chooser final : public TUSBDevice2 {
public:
    using TUSBDevice2::TUSBDevice2;
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return {}; }
    std::int64_t GetTotalCount() override { return 0; }
    void Upgrade(std::string&) override {}
};

std::string PathOf(BenchWorld& world, const std::string& serial) {
    return world.bench.bench().find(serial)->devicePath();
}

struct SelectionRow {
    const char* name;
    std::vector<std::string> attached;
    std::optional<std::vector<bool>> answer;  // nothing: the dialog is closed
    bool opened;
    std::vector<std::string> chosen;          // serials left in DeviceNames, in order
    std::size_t dialogs;
};
void PrintTo(const SelectionRow& row, std::ostream* os) { *os << row.name; }

class DeviceSelectionTest : public ::testing::TestWithParam<SelectionRow> {};

TEST_P(DeviceSelectionTest, KeepsTheChosenInstrumentsInListOrder) {
    const SelectionRow& row = GetParam();
    BenchWorld world(Velkaros(row.attached));
    world.op.deviceAnswer = row.answer;
    world.op.cancelDevices = !row.answer.has_value();
    Chooser chooser(world.context());

    EXPECT_EQ(chooser.Open(""), row.opened);
    std::vector<std::string> expectedPaths;
    for (const auto& serial : row.chosen) expectedPaths.push_back(PathOf(world, serial));
    EXPECT_EQ(chooser.DeviceNames, expectedPaths);
    EXPECT_EQ(chooser.Handles.size(), row.chosen.size());
    EXPECT_EQ(world.bench.bench().openHandles(), row.chosen.size());
    ASSERT_EQ(world.op.deviceQuestions.size(), row.dialogs);
    if (row.dialogs == 1) {
        // One item per instrument, in list order, with its serial.
        std::vector<std::string> items;
        for (const auto& serial : row.attached) items.push_back("VKUSB SN: " + serial);
        EXPECT_EQ(world.op.deviceQuestions.front(), items);
    }
    // Every opened instrument was set to mode 1, once, before anything else.
    for (const auto& request : world.bench.select("write2", "SET_MODE"))
        EXPECT_THAT(request.sent, ElementsAre(0xA0, 0x01));
    EXPECT_EQ(world.bench.count("write2", "SET_MODE"), row.attached.size());
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, DeviceSelectionTest,
    ::testing::Values(
        SelectionRow{"OneInstrumentNoDialog", {"TV000001"}, std::nullopt, true, {"TV000001"}, 0},
        SelectionRow{"ThreeWithTheSecondUnchecked", {"TV000001", "TV000002", "TV000003"},
                     std::vector<bool>{true, false, true}, true, {"TV000001", "TV000003"}, 1},
        SelectionRow{"AllUnchecked", {"TV000001", "TV000002"}, std::vector<bool>{false, false}, false, {}, 1},
        SelectionRow{"DialogClosed", {"TV000001", "TV000002"}, std::nullopt, false, {}, 1},
        SelectionRow{"AllChecked", {"TV000001", "TV000002"}, std::vector<bool>{true, true}, true,
                     {"TV000001", "TV000002"}, 1},
        SelectionRow{"NoInstrument", {}, std::nullopt, false, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceSelection, ReopenByIdentifierKeepsThePositionAndUnlistedIdentifiersChangeNothing) {
    BenchWorld world(Velkaros({"TV000001", "TV000002", "TV000003"}));
    Chooser chooser(world.context());
    ASSERT_TRUE(chooser.Open(""));
    const auto names = chooser.DeviceNames;
    const Handle first = chooser.Handles[0];

    EXPECT_FALSE(chooser.Open(""));  // already open: nothing changes
    EXPECT_TRUE(chooser.Close(names[1]));
    EXPECT_EQ(chooser.Handles[1], kInvalidHandle);
    EXPECT_EQ(chooser.DeviceNames, names);
    EXPECT_EQ(world.bench.bench().openHandles(), 2u);
    EXPECT_TRUE(chooser.Open(names[1]));
    EXPECT_NE(chooser.Handles[1], kInvalidHandle);
    EXPECT_EQ(chooser.Handles[0], first);
    EXPECT_EQ(chooser.DeviceNames, names);

    const std::size_t requests = world.bench.requests().size();
    EXPECT_FALSE(chooser.Open("\\\\?\\usb#vid_1234&pid_0e10#NOTHERE#x"));
    EXPECT_FALSE(chooser.Close("\\\\?\\usb#vid_1234&pid_0e10#NOTHERE#x"));
    EXPECT_EQ(world.bench.requests().size(), requests);
    EXPECT_EQ(chooser.DeviceNames, names);

    chooser.DropDevice(0);
    EXPECT_EQ(chooser.DeviceNames, (std::vector<std::string>{names[1], names[2]}));
    EXPECT_TRUE(chooser.Close(""));
    EXPECT_TRUE(chooser.Handles.empty());
    EXPECT_TRUE(chooser.DeviceNames.empty());
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
}

TEST(DeviceSelection, InstrumentHeldElsewhereIsSkippedAndAnUnreadableRecordShowsZero) {
    BenchWorld world(Velkaros({"TV000001", "TV000002", "TV000003"}));
    // Someone else holds the second instrument open.
    RawDriver raw(world.bench.driver());
    const Handle held = raw.open(PathOf(world, "TV000002"), nullptr, kGenericRead | kGenericWrite, 0);
    ASSERT_NE(held, kInvalidHandle);
    // The third's identity record cannot be read.
    world.bench.addFault("TV000003", {.request = "MEM_READ", .action = sim::FaultAction::Fail});
    Chooser chooser(world.context());
    ASSERT_TRUE(chooser.Open(""));
    ASSERT_EQ(world.op.deviceQuestions.size(), 1u);
    EXPECT_THAT(world.op.deviceQuestions[0], ElementsAre("VKUSB SN: TV000001", "VKUSB SN: 0"));
    EXPECT_EQ(chooser.DeviceNames, (std::vector<std::string>{PathOf(world, "TV000001"), PathOf(world, "TV000003")}));
    raw.close(held);
}

TEST(DeviceSelection, SerialNumbersShowAsHexadecimalOrAsText) {
    struct Row {
        std::array<std::uint8_t, 8> bytes;
        std::string shown;
    };
    for (const Row& row : {Row{{0x34, 0x12, 0, 0, 0, 0, 0, 0}, "1234"}, Row{{0, 0, 0, 0, 0, 0, 0, 0}, "0"},
                           Row{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}, "FFFFFFFFFFFFFF"},
                           Row{{'T', 'V', '0', '0', '0', '0', '0', '1'}, "TV000001"},
                           Row{{'A', 'B', 0, 0, 0, 0, 0, 0}, "4241"}})
        EXPECT_EQ(TUSBDevice2::FormatSerialNumber(row.bytes.data()), row.shown);

    // A serial shorter than 8 characters is padded with zeros, so it shows in hexadecimal.
    BenchWorld world(Velkaros({"AB", "TV000002"}));
    Chooser chooser(world.context());
    ASSERT_TRUE(chooser.Open(""));
    EXPECT_THAT(world.op.deviceQuestions.at(0), ElementsAre("VKUSB SN: 4241", "VKUSB SN: TV000002"));
}

TEST(DeviceSelection, AWrongPackageClosesEveryHandleAndWritesNothing) {
    BenchWorld world(Velkaros({"TV000001", "TV000002"}));
    world.op.deviceAnswer = std::vector<bool>{false, true};
    TVKZenaraModulDevice family(world.context());
    const std::string message = world.Run(family, world.Package({{"Bootload.ini", "[Info]\r\nDeviceType=3\r\n"}}));
    EXPECT_EQ(message, "Instrument or FWU file is not Zenara Module!");
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    for (const auto& request : world.bench.select("write2"))
        EXPECT_TRUE(request.command == "SET_MODE" || request.command == "MEM_READ" || request.command.rfind("I2C", 0) == 0)
            << request.command;
}

}  // namespace
}  // namespace rovenza
