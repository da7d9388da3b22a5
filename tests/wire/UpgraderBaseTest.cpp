// The operations every upgrader shares: default open and close, the package, the manifest's
// device type and the command/reply query, against the simulated bench.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "fwu/DemoPackage.h"
#include "usb/VELKUSB.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

using ::testing::HasSubstr;

// An upgrader with the base's own Open and Close.
class BaseDevice : public TUSBDevice {
public:
    using TUSBDevice::TUSBDevice;
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "base"; }
    std::int64_t GetTotalCount() override { return 0; }
    void Upgrade(std::string& message) override { message = "unused"; }
};

const std::string kTrail = "\x0A\x0D";

TEST(UpgraderBaseTest, FreshObjectReportsNothingAndClosesNothing) {
    BenchWorld world{BenchWorld::One(sim::FamilyId::IrigClock, "IC000001", true)};
    {
        BaseDevice device(world.context());
        EXPECT_EQ(device.GetDoneCount(), 0);
        EXPECT_EQ(device.GetStageText(), "");
        EXPECT_EQ(device.DeviceTypeCode, 0);
    }
    EXPECT_TRUE(world.bench.requests().empty());
}

TEST(UpgraderBaseTest, DefaultOpenLooksForTheBootLoaderOnly) {
    BenchWorld world{BenchWorld::One(sim::FamilyId::IrigClock, "IC000001", true)};
    BaseDevice device(world.context());
    ASSERT_TRUE(device.Open(""));
    EXPECT_EQ(device.Handles.size(), 1u);
    EXPECT_THAT(world.bench.requests().back().path, HasSubstr("pid_0dac#IC000001"));
    EXPECT_EQ(world.bench.requests().back().access, kGenericWrite);
    EXPECT_EQ(world.bench.requests().back().share, kFileShareWrite);

    // Open again while holding a handle: nothing more is opened, and the trail says so.
    EXPECT_FALSE(device.Open(""));
    EXPECT_EQ(world.bench.count("open"), 1u);
    EXPECT_EQ(device.ErrorTrail, kTrail + "could not connected");

    EXPECT_TRUE(device.Close(""));
    EXPECT_TRUE(device.Handles.empty());
    EXPECT_FALSE(device.Close(""));
    EXPECT_EQ(world.bench.count("close"), 1u);
}

TEST(UpgraderBaseTest, DefaultOpenFallsBackToTheFixedPath) {
    // An instrument in firmware mode is not listed as 0DAC; the fixed path still reaches it.
    BenchWorld world{BenchWorld::One(sim::FamilyId::IrigClock, "IC000001")};
    BaseDevice device(world.context());
    EXPECT_TRUE(device.Open(""));
    EXPECT_EQ(world.bench.requests().back().path, "\\\\.\\vkusb-0");
    EXPECT_EQ(device.ErrorTrail, "");

    BenchWorld empty{sim::BenchSpec{}};
    BaseDevice none(empty.context());
    EXPECT_FALSE(none.Open(""));
    EXPECT_EQ(none.ErrorTrail, kTrail + "could not connected");
    EXPECT_FALSE(none.Close(""));
}

TEST(UpgraderBaseTest, ExtractPackageAndManifestDeviceType) {
    BenchWorld world{sim::BenchSpec{}};
    BaseDevice device(world.context());
    EXPECT_FALSE(device.ExtractPackage((world.folder.path() / "missing.fwu").string()));
    EXPECT_FALSE(device.ExtractPackage(""));
    const auto junk = world.folder.path() / "junk.fwu";
    std::ofstream(junk) << "PK but not really";
    EXPECT_FALSE(device.ExtractPackage(junk.string()));
    EXPECT_EQ(device.ReadManifestDeviceType(), -1);

    EXPECT_TRUE(device.ExtractPackage(world.Package({{"Bootload.ini", ManifestText(3)}})));
    EXPECT_EQ(device.ReadManifestDeviceType(), 3);
    EXPECT_TRUE(std::filesystem::exists(world.folder.path() / "Temp" / "Bootload.ini"));
}

TEST(UpgraderBaseTest, QueryDeviceReturnsTheWholeBufferAndRaisesOnFailure) {
    BenchWorld world{BenchWorld::One(sim::FamilyId::IrigClock, "IC000001")};
    BaseDevice device(world.context());
    ASSERT_TRUE(device.Open(""));
    const std::string command("\x00\x02\x00\x0D\x00", 5);
    const std::string reply = device.QueryDevice(command);
    EXPECT_EQ(reply.size(), 64u);
    EXPECT_EQ(reply.substr(0, 4), command.substr(0, 4));
    const auto write = world.bench.select("write", "QUERY_NAME").at(0);
    EXPECT_EQ(write.sent, Bytes(command.begin(), command.end()));
    const auto read = world.bench.select("read", "QUERY_NAME").at(0);
    EXPECT_EQ(read.input, EncodeRequestHeader({1, 1000}));

    sim::FaultRule rule;
    rule.request = "QUERY_NAME";
    rule.code = 1167;
    world.bench.addFault("IC000001", rule);
    try {
        device.QueryDevice(command);
        ADD_FAILURE() << "no exception";
    } catch (const OSError& e) {
        EXPECT_EQ(e.code(), 1167u);
    }
}

}  // namespace
}  // namespace rovenza
