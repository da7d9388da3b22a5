// "IRIG Clock" upgrades against the bench: the USB microcontroller, the reconnection, and
// the FPGA configuration, with every failure row of the FPGA stage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/IRIGDevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/HexWriter.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using sim::Bytes;
using sim::FaultAction;
using sim::FaultSide;
using ::testing::ElementsAre;

const std::string kSerial = "IC000001";
const std::string kSuccess = "Firmware upgrade successful!";

std::string Trail(std::initializer_list<const char*> steps) {
    std::string text;
    for (const char* step : steps) text += std::string("\x0A\x0D") + step;
    return text;
}

struct Fault {
    const char* request;
    std::uint32_t occurrence;
    FaultAction action;
    FaultSide on = FaultSide::Write;
};

class IrigClockUpgradeTest : public ::testing::Test {
protected:
    explicit IrigClockUpgradeTest(sim::BenchSpec setup = BenchWorld::One(sim::FamilyId::IrigClock, kSerial))
        : world(setup) {}

    BenchWorld world;
    TIRIGDevice upgrader{world.context()};

    std::vector<FwuMember> Members() { return *DemoPackageMembers(kDemoIrig); }
    std::vector<FwuMember> MembersWithFpga(const std::string& text) {
        auto members = Members();
        for (auto& member : members)
            if (member.name == "fpga.hex") member.bytes = text;
        return members;
    }
    std::string Run(const std::vector<FwuMember>& members) { return world.Run(upgrader, world.Package(members)); }
    void Add(const Fault& fault) {
        world.bench.addFault(
            kSerial, {.request = fault.request, .occurrence = fault.occurrence, .action = fault.action, .on = fault.on});
    }
    std::int64_t FirstWrite(const std::string& command) { return world.bench.select("write", command).at(0).timeUs; }
    std::int64_t WriterReturned() {
        // The boot-loader writer returns 5000 ms after closing the handle behind BOOT_RESET.
        const auto reset = world.bench.select("write", "BOOT_RESET").at(0).timeUs;
        for (const auto& close : world.bench.select("close"))
            if (close.timeUs >= reset) return close.timeUs + 5'000'000;
        return -1;
    }
};

TEST_F(IrigClockUpgradeTest, FullUpgradeWritesMicrocontrollerAndFpga) {
    EXPECT_EQ(upgrader.GetTotalCount(), 5058);
    EXPECT_EQ(Run(Members()), kSuccess);

    auto& pic = world.pic(kSerial);
    const auto image = DemoUsbPicImage();
    EXPECT_TRUE(std::equal(pic.program().begin() + 0x800, pic.program().end(), image.begin() + 0x800));
    EXPECT_EQ(pic.fpga(), DemoFpgaImage());
    EXPECT_EQ(upgrader.GetDoneCount(), 5058);
    EXPECT_EQ(upgrader.GetStageText(), "FPGA uploading");
    EXPECT_TRUE(upgrader.Handles.empty());
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);

    EXPECT_EQ(world.Writes("PRMD"), 1u);
    EXPECT_EQ(world.Writes("FPGA_CMD2"), 1u);
    EXPECT_EQ(world.Writes("FPGA_WRITE"), 4093u);
    EXPECT_EQ(world.Writes("FPGA_READ"), 4093u);
    const auto prmd = world.bench.select("write", "PRMD").at(0);
    EXPECT_EQ(prmd.sent, (Bytes{0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'}));
    EXPECT_THAT(world.bench.select("read", "PRMD").at(0).input, ElementsAre(1, 0, 0, 0, 0x98, 0x3A, 0, 0));
    EXPECT_EQ(world.bench.select("write", "FPGA_CMD2").at(0).sent, (Bytes{0x00, 0x02, 0x00, 0x51, 0x00}));
    const auto writes = world.bench.select("write", "FPGA_WRITE");
    EXPECT_THAT(Bytes(writes[0].sent.begin(), writes[0].sent.begin() + 7), ElementsAre(0, 2, 0, 0x52, 0, 0, 0));
    EXPECT_THAT(Bytes(writes[1].sent.begin(), writes[1].sent.begin() + 7), ElementsAre(0, 2, 0, 0x52, 0, 0, 0x20));
    EXPECT_THAT(Bytes(writes[4092].sent.begin() + 4, writes[4092].sent.begin() + 7), ElementsAre(0x01, 0xFF, 0x80));
    EXPECT_EQ(writes[0].sent.size(), 39u);
    EXPECT_EQ(world.bench.select("write", "FPGA_READ").at(1).sent, (Bytes{0, 2, 0, 0x53, 0, 0, 0x20}));

    // The final reset packet goes without a reply: a 4-byte input, then nothing but the close.
    const auto& requests = world.bench.requests();
    const auto last = std::find_if(requests.rbegin(), requests.rend(), [](const auto& r) { return r.call == "write"; });
    EXPECT_EQ(last->input, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(last->sent.size(), 64u);
    EXPECT_EQ(last->sent[0], 0xFF);
    EXPECT_EQ(last->sent[1], 1);
    EXPECT_TRUE(std::all_of(last->sent.begin() + 2, last->sent.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(requests.back().call, "close");
    EXPECT_EQ(requests.back().timeUs - last->timeUs, 1'000'000);

    // 4000 ms after the writer returned the instrument is found again; the programming mode
    // answers when ready, and the second command follows 1000 ms later.
    EXPECT_EQ(FirstWrite("PRMD") - WriterReturned(), 4'000'000);
    const auto prmdRead = world.bench.select("read", "PRMD").at(0);
    EXPECT_EQ(FirstWrite("FPGA_CMD2") - prmdRead.endUs(), 1'000'000);
}

class IrigSlowRestartTest : public IrigClockUpgradeTest {
protected:
    static sim::BenchSpec BenchSetup() {
        auto setup = BenchWorld::One(sim::FamilyId::IrigClock, kSerial);
        setup.instruments[0].bootResetMs = 5000 + 2 * 4000 + 500;  // back between the 2nd and 3rd attempt
        return setup;
    }
    IrigSlowRestartTest() : IrigClockUpgradeTest(BenchSetup()) {}
};

TEST_F(IrigSlowRestartTest, FoundOnTheThirdAttemptTwelveSecondsLater) {
    EXPECT_EQ(Run(Members()), kSuccess);
    EXPECT_EQ(FirstWrite("PRMD") - WriterReturned(), 12'000'000);
}

TEST_F(IrigClockUpgradeTest, NeverFoundAgainEndsWithTheTrail) {
    Add({"BOOT_RESET", 1, FaultAction::Never});
    EXPECT_EQ(Run(Members()), "Error: ");
    EXPECT_EQ(world.Writes("PRMD"), 0u);
    EXPECT_EQ(world.bench.nowUs() - WriterReturned(), 11 * 4'000'000);
}

TEST_F(IrigClockUpgradeTest, AlreadyInTheBootLoaderIsProgrammed) {
    BenchWorld boot{BenchWorld::One(sim::FamilyId::IrigClock, kSerial, true)};
    TIRIGDevice device(boot.context());
    EXPECT_EQ(boot.Run(device, boot.Package(Members())), kSuccess);
    EXPECT_EQ(boot.bench.select("open").at(0).path.find("pid_0dac") != std::string::npos, true);
    EXPECT_EQ(boot.pic(kSerial).fpga(), DemoFpgaImage());
}

TEST_F(IrigClockUpgradeTest, WrongKindSendsNothing) {
    auto members = Members();
    members[0].bytes = ManifestText(4);
    EXPECT_EQ(Run(members), "Instrument or FWU file is not IRIG CLOCK!");
    EXPECT_EQ(world.bench.count("write"), 0u);
}

TEST_F(IrigClockUpgradeTest, GetDeviceNameTakesTenCharactersFromTheFifth) {
    ASSERT_TRUE(upgrader.Open(""));
    const std::string name = upgrader.GetDeviceName();
    EXPECT_EQ(name.size(), 10u);
    const auto reply = world.bench.select("read", "QUERY_NAME").at(0).received;
    EXPECT_EQ(name, std::string(reply.begin() + 4, reply.begin() + 14));
}

TEST_F(IrigClockUpgradeTest, ConfigurationTextRules) {
    // Two blocks; a trailing line end is not data; an odd digit count, a stray character or a
    // text without digits is refused before the instrument leaves its firmware.
    std::string text(128, 'A');
    text[0] = '1';
    text[1] = 'f';
    EXPECT_EQ(Run(MembersWithFpga(text + "\r\n")), kSuccess);
    EXPECT_EQ(world.Writes("FPGA_WRITE"), 2u);
    EXPECT_EQ(world.pic(kSerial).fpga().size(), 64u);
    EXPECT_EQ(world.pic(kSerial).fpga()[0], 0x1F);
    EXPECT_EQ(upgrader.GetDoneCount(), 962 + 5);

    for (const std::string& bad :
         {std::string("G1") + std::string(126, '0'), std::string(127, '0'), std::string(), std::string(" \r\n")}) {
        BenchWorld other{BenchWorld::One(sim::FamilyId::IrigClock, kSerial)};
        TIRIGDevice device(other.context());
        EXPECT_EQ(other.Run(device, other.Package(MembersWithFpga(bad))), "Error: ");
        EXPECT_EQ(other.bench.count("write"), 0u);
        EXPECT_EQ(other.bench.bench().openHandles(), 0u);
        EXPECT_FALSE(other.debug.lines.empty());
    }
}

TEST_F(IrigClockUpgradeTest, MissingConfigurationEndsWithAnEmptyTrail) {
    auto members = Members();
    members.erase(std::remove_if(members.begin(), members.end(), [](auto& m) { return m.name == "fpga.hex"; }),
                  members.end());
    EXPECT_EQ(Run(members), "Error: ");
    EXPECT_EQ(world.bench.count("write"), 0u);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
}

struct FpgaFailure {
    const char* name;
    std::vector<Fault> faults;
    std::string message;
};
void PrintTo(const FpgaFailure& row, std::ostream* os) { *os << row.name; }

class IrigFpgaFailureTest : public IrigClockUpgradeTest, public ::testing::WithParamInterface<FpgaFailure> {};

TEST_P(IrigFpgaFailureTest, EndsWithItsTrailAndTheHandleClosed) {
    for (const auto& fault : GetParam().faults) Add(fault);
    EXPECT_EQ(Run(Members()), GetParam().message);
    EXPECT_EQ(world.bench.bench().openHandles(), 0u);
    EXPECT_TRUE(upgrader.Handles.empty());
    // The microcontroller keeps its new firmware.
    const auto image = DemoUsbPicImage();
    EXPECT_TRUE(std::equal(world.pic(kSerial).program().begin() + 0x800, world.pic(kSerial).program().end(),
                           image.begin() + 0x800));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IrigFpgaFailureTest,
    ::testing::Values(FpgaFailure{"ProgrammingModeFails", {{"PRMD", 1, FaultAction::Fail}}, "Error: " + Trail({"PRMD"})},
                      FpgaFailure{"ProgrammingModeNeverAnswers",
                                  {{"PRMD", 1, FaultAction::Timeout, FaultSide::Read}},
                                  "Error: " + Trail({"PRMD"})},
                      FpgaFailure{"SecondCommandFails",
                                  {{"FPGA_CMD2", 1, FaultAction::Fail}},
                                  "Error: " + Trail({"Cmd: #0#2#0+#81+#0"})},
                      FpgaFailure{"WriteBlockFails", {{"FPGA_WRITE", 7, FaultAction::Fail}}, "Error: " + Trail({"WRITE_FPGA "})},
                      FpgaFailure{"ReadBlockFails",
                                  {{"FPGA_READ", 7, FaultAction::Fail, FaultSide::Read}},
                                  "Error: " + Trail({"READ_FPGA "})},
                      FpgaFailure{"ReadBackDiffers", {{"FPGA_READ", 7, FaultAction::Corrupt}}, "Error: " + Trail({"FPGA_VERIFICATION"})},
                      FpgaFailure{"StoreKeepsAWrongByte", {{"FPGA_WRITE", 9, FaultAction::Corrupt}}, "Error: " + Trail({"FPGA_VERIFICATION"})},
                      FpgaFailure{"WriteReplyShort", {{"FPGA_WRITE", 3, FaultAction::Short}}, "Error: " + Trail({"FPGA_VERIFICATION"})}),
    [](const auto& info) { return std::string(info.param.name); });

class IrigSlowFirmwareTest : public IrigClockUpgradeTest {
protected:
    static sim::BenchSpec BenchSetup() {
        auto setup = BenchWorld::One(sim::FamilyId::IrigClock, kSerial);
        setup.instruments[0].prmdMs = 16000;  // slower than the 15000 ms the host waits
        return setup;
    }
    IrigSlowFirmwareTest() : IrigClockUpgradeTest(BenchSetup()) {}
};

TEST_F(IrigSlowFirmwareTest, ProgrammingModeSlowerThanTheTimeOutFails) {
    EXPECT_EQ(Run(Members()), "Error: " + Trail({"PRMD"}));
    const auto read = world.bench.select("read", "PRMD").at(0);
    EXPECT_EQ(read.result, 1460u);
    EXPECT_EQ(read.durationUs, 15'000'000);
}

}  // namespace
}  // namespace rovenza
