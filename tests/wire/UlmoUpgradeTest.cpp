// "ULMO" upgrades against the bench: the USB microcontroller, then the CAN image forwarded
// in half-block packets, with every failure row of the CAN stage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/ULMODevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/HexWriter.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using sim::Bytes;
using sim::FaultAction;
using sim::FaultSide;

const std::string kSerial = "UL000001";
const std::string kSuccess = "Firmware upgrade successful!";

class UlmoUpgradeTest : public ::testing::Test {
protected:
    BenchWorld world{BenchWorld::One(sim::FamilyId::Ulmo, kSerial)};
    TULMODevice upgrader{world.context()};
    const std::vector<std::uint8_t> canImage = DemoCanImage();

    std::vector<FwuMember> Members(std::optional<std::string> canText = std::nullopt, bool withCan = true) {
        auto members = *DemoPackageMembers(kDemoUlmo);
        for (auto it = members.begin(); it != members.end(); ++it) {
            if (it->name != "ulmo_can.hex") continue;
            if (!withCan) {
                members.erase(it);
                break;
            }
            if (canText) it->bytes = *canText;
        }
        return members;
    }
    std::string Run(const std::vector<FwuMember>& members) { return world.Run(upgrader, world.Package(members)); }
    void Add(const char* request, std::uint32_t occurrence, FaultAction action, FaultSide on = FaultSide::Write,
             std::optional<std::uint32_t> length = std::nullopt) {
        world.bench.addFault(
            kSerial, {.request = request, .occurrence = occurrence, .action = action, .on = on, .length = length});
    }
    bool CanFlashHoldsTheImage() {
        const auto& can = world.pic(kSerial).can();
        return std::equal(can.begin() + 0x600, can.end(), canImage.begin() + 0x600);
    }
};

TEST_F(UlmoUpgradeTest, FullUpgradeForwardsEveryBlock) {
    EXPECT_EQ(upgrader.GetTotalCount(), 1963);
    EXPECT_EQ(Run(Members()), kSuccess);
    EXPECT_TRUE(CanFlashHoldsTheImage());
    const auto image = DemoUsbPicImage();
    const auto& program = world.pic(kSerial).program();
    EXPECT_TRUE(std::equal(program.begin() + 0x800, program.end(), image.begin() + 0x800));
    EXPECT_EQ(upgrader.GetDoneCount(), 1962);
    EXPECT_EQ(upgrader.GetStageText(), "USB Pic uploading");
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    // 2,000 packets, alternating halves, then the closing command.
    std::vector<std::string> can;
    for (const auto& command : world.WrittenCommands())
        if (command.rfind("CAN_", 0) == 0) can.push_back(command);
    ASSERT_EQ(can.size(), 2001u);
    for (std::size_t i = 0; i < 2000; ++i) EXPECT_EQ(can[i], i % 2 ? "CAN_SECOND" : "CAN_FIRST");
    EXPECT_EQ(can.back(), "CAN_FINISH");

    const auto firsts = world.bench.select("write", "CAN_FIRST");
    const auto seconds = world.bench.select("write", "CAN_SECOND");
    const std::uint8_t headers[][4] = {{2, 0, 0x06, 0x00}, {2, 0, 0x06, 0x40}, {2, 0, 0x06, 0x80}, {2, 0, 0x06, 0xC0},
                                       {2, 0, 0x07, 0x00}};
    for (int b = 0; b < 5; ++b) EXPECT_TRUE(std::equal(headers[b], headers[b] + 4, firsts[b].sent.begin() + 2));
    EXPECT_EQ(firsts.back().sent[4], 0xFF);
    EXPECT_EQ(firsts.back().sent[5], 0xC0);
    // Block 3: bytes 0 to 32 in the first half, 33 to 63 in the second.
    const auto block = canImage.begin() + 0x600 + 3 * 64;
    EXPECT_EQ(firsts[3].sent.size(), 64u);
    EXPECT_TRUE(std::equal(block, block + 33, firsts[3].sent.begin() + 6));
    EXPECT_EQ(seconds[3].sent[0], 0x0A);
    EXPECT_EQ(seconds[3].sent[1], 0x01);
    EXPECT_TRUE(std::equal(block + 33, block + 64, seconds[3].sent.begin() + 2));
    const auto finish = world.bench.select("write", "CAN_FINISH").at(0).sent;
    EXPECT_EQ(Bytes(finish.begin(), finish.begin() + 6), (Bytes{0x0B, 0x00, 0x03, 0x03, 0x0F, 0x00}));
}

TEST_F(UlmoUpgradeTest, UnacknowledgedBlockStillSendsEverythingThenFails) {
    Add("CAN_SECOND", 18, FaultAction::Corrupt);  // block 17
    EXPECT_EQ(Run(Members()), "Error");
    EXPECT_EQ(world.Writes("CAN_FIRST"), 1000u);
    EXPECT_EQ(world.Writes("CAN_SECOND"), 1000u);
    EXPECT_EQ(world.Writes("CAN_FINISH"), 1u);
}

struct CanFailure {
    const char* name;
    const char* request;
    std::uint32_t occurrence;
    FaultAction action;
    FaultSide on;
    std::size_t firstHalves;  // first halves sent in all
    std::optional<std::uint32_t> length = std::nullopt;
};
void PrintTo(const CanFailure& row, std::ostream* os) { *os << row.name; }

class UlmoCanFailureTest : public UlmoUpgradeTest, public ::testing::WithParamInterface<CanFailure> {};

TEST_P(UlmoCanFailureTest, EndsWithErrorAndNoTrail) {
    const auto& row = GetParam();
    Add(row.request, row.occurrence, row.action, row.on, row.length);
    EXPECT_EQ(Run(Members()), "Error");
    EXPECT_EQ(world.Writes("CAN_FIRST"), row.firstHalves);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UlmoCanFailureTest,
    ::testing::Values(CanFailure{"FirstHalfFails", "CAN_FIRST", 5, FaultAction::Fail, FaultSide::Write, 5},
                      CanFailure{"SecondHalfReplyLost", "CAN_SECOND", 5, FaultAction::Timeout, FaultSide::Read, 5},
                      CanFailure{"EmptyAcknowledgement", "CAN_SECOND", 1000, FaultAction::Short, FaultSide::Write, 1000, 0},
                      CanFailure{"ClosingCommandFails", "CAN_FINISH", 1, FaultAction::Fail, FaultSide::Write, 1000},
                      CanFailure{"ClosingCommandRefused", "CAN_FINISH", 1, FaultAction::Corrupt, FaultSide::Write, 1000},
                      CanFailure{"ClosingCommandUnanswered", "CAN_FINISH", 1, FaultAction::Short, FaultSide::Write, 1000, 0},
                      CanFailure{"UsbStageFails", "READ_FLASH", 3, FaultAction::Fail, FaultSide::Write, 0},
                      CanFailure{"NeverFoundAgain", "BOOT_RESET", 1, FaultAction::Never, FaultSide::Write, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UlmoUpgradeTest, ImageFileRules) {
    // An end-of-file record followed by a blank line is fine; a segment record, a damaged
    // record or a missing file end the run before the instrument leaves its firmware.
    const std::string good = WriteIntelHex(canImage);
    EXPECT_EQ(Run(Members(good + "\r\n")), kSuccess);
    EXPECT_TRUE(CanFlashHoldsTheImage());

    std::string segment = good;
    segment.insert(segment.find(":00000001FF"), ":020000021000EC\r\n");
    std::string damaged = good;
    damaged[damaged.find('\n', 300) - 2] = damaged[damaged.find('\n', 300) - 2] == '0' ? '1' : '0';
    for (const auto& members : {Members(segment), Members(damaged), Members(std::nullopt, false)}) {
        BenchWorld other{BenchWorld::One(sim::FamilyId::Ulmo, kSerial)};
        TULMODevice device(other.context());
        EXPECT_EQ(other.Run(device, other.Package(members)), "Error");
        EXPECT_EQ(other.bench.count("write"), 0u);
        EXPECT_EQ(other.bench.bench().openHandles(), 0u);
    }
}

TEST_F(UlmoUpgradeTest, RefusalsAndTheExceptionMessage) {
    auto wrong = Members();
    wrong[0].bytes = ManifestText(1);
    EXPECT_EQ(Run(wrong), "Instrument or FWU file is not ULMO!");
    EXPECT_EQ(world.bench.count("write"), 0u);

    auto noUsb = Members();
    noUsb.erase(std::remove_if(noUsb.begin(), noUsb.end(), [](auto& m) { return m.name == "ulmo_usb.hex"; }),
                noUsb.end());
    TULMODevice device(world.context());
    EXPECT_EQ(world.Run(device, world.Package(noUsb)), "Error");
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
}

TEST_F(UlmoUpgradeTest, GetDeviceNameTakesFourCharactersFromTheFifth) {
    ASSERT_TRUE(upgrader.Open(""));
    const std::string name = upgrader.GetDeviceName();
    EXPECT_EQ(name.size(), 4u);
    const auto received = world.bench.select("read", "QUERY_NAME").at(0).received;
    EXPECT_EQ(name, std::string(received.begin() + 4, received.begin() + 8));
}

}  // namespace
}  // namespace rovenza
