// Locating first-generation instruments by the product identifier in their paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/RecordingPlatform.h"
#include "usb/VELKUSB_Enum.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ExtractPidTest, ReadsTheTextBetweenPidAndHash) {
    struct Case {
        const char* path;
        bool found;
        const char* pid;
    } cases[] = {
        {"\\\\?\\usb#vid_1234&pid_0dac#PC000001#{012ad3ce}", true, "0DAC"},
        {"\\\\?\\USB#VID_1234&PID_0DAE&MI_00#7&1#{g}", true, "0DAE&MI_00"},
        {"\\\\?\\usb#vid_1234&pid_#serial", true, ""},
        {"\\\\?\\usb#vid_1234&serial#x", false, ""},
        {"\\\\?\\usb#vid_1234&pid_0db0", false, ""},
    };
    for (const auto& c : cases) {
        std::string pid = "unchanged";
        EXPECT_EQ(ExtractPid(c.path, pid), c.found) << c.path;
        if (c.found) {
            EXPECT_EQ(pid, c.pid) << c.path;
        }
    }
}

class FindDevicePathsTest : public ::testing::Test {
protected:
    ScriptedDriver driver;
    RecordingPlatform platform{driver};
    void List(std::vector<DeviceInterfaceEntry> entries) { platform.interfaces.firstGeneration = std::move(entries); }
};

TEST_F(FindDevicePathsTest, MatchesByIdentifierAndKeepsThePathsAsReported) {
    List({{"\\\\?\\usb#vid_1234&pid_0dac#a#{g}", "boot", 0},
          {"\\\\?\\usb#vid_1234&pid_0dae#b#{g}", "irig", 0},
          {"\\\\?\\usb#vid_1234&pid_0dae&mi_00#c#{g}", "composite", 0},
          {"\\\\?\\usb#vid_1234&pid_0dae#d#{g}", "irig 2", 0}});
    std::vector<std::string> paths{"kept"};
    FindDevicePaths(platform.context(), paths);
    EXPECT_THAT(paths, ElementsAre("kept", "\\\\?\\usb#vid_1234&pid_0dac#a#{g}"));

    std::vector<std::string> irig;
    FindDevicePathsByPid(platform.context(), "0dae", irig);
    EXPECT_THAT(irig, ElementsAre("\\\\?\\usb#vid_1234&pid_0dae#b#{g}", "\\\\?\\usb#vid_1234&pid_0dae#d#{g}"));
}

TEST_F(FindDevicePathsTest, FailedDetailQueryIsReportedAndSkipped) {
    List({{"", "", 1167}, {"\\\\?\\usb#vid_1234&pid_0dac#a#{g}", "", 0}});
    std::vector<std::string> paths;
    FindDevicePaths(platform.context(), paths);
    EXPECT_EQ(paths.size(), 1u);
    ASSERT_EQ(platform.op.messages.size(), 1u);
    EXPECT_EQ(platform.op.messages[0].title, "");
    EXPECT_EQ(platform.op.messages[0].text, "Error 1167");
    EXPECT_THAT(platform.debug.lines, IsEmpty());

    std::vector<std::string> byPid;
    FindDevicePathsByPid(platform.context(), "0DAC", byPid);
    EXPECT_EQ(byPid.size(), 1u);
    EXPECT_THAT(platform.debug.lines, ElementsAre("Error 1167"));
    EXPECT_EQ(platform.op.messages.size(), 1u);
}

TEST_F(FindDevicePathsTest, FailedClassQueryFindsNothing) {
    platform.interfaces.classQueryFails = true;
    std::vector<std::string> paths{"kept"};
    FindDevicePathsByPid(platform.context(), "0DAC", paths);
    EXPECT_THAT(paths, ElementsAre("kept"));
}

}  // namespace
}  // namespace rovenza
