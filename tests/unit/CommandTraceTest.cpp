// The command trace: names, rounding, line formats, and the file's life with the channel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>

#include "support/RecordingPlatform.h"
#include "support/TempDir.h"
#include "usb/CommandTrace.h"
#include "usb/VELKUSB.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(CommandTraceTest, NamesAndRounding) {
    EXPECT_EQ(CommandName(0x50), "SET_TIME");
    EXPECT_EQ(CommandName(0x51), "GET_TIME");
    EXPECT_EQ(CommandName(0x0C), "SET_CONFIG");
    EXPECT_EQ(CommandName(0x5A), "CALIB1V");
    EXPECT_EQ(CommandName(7), "7");
    EXPECT_EQ(CommandName(0), "0");
    EXPECT_EQ(CommandName(255), "255");
    // Counter at 10 MHz: 0.5 ms, 1.5 ms, 2.5 ms, 2.4 ms, 3.5 ms.
    EXPECT_EQ(ElapsedMilliseconds(0, 5'000, 10'000'000), 0);
    EXPECT_EQ(ElapsedMilliseconds(0, 15'000, 10'000'000), 2);
    EXPECT_EQ(ElapsedMilliseconds(0, 25'000, 10'000'000), 2);
    EXPECT_EQ(ElapsedMilliseconds(0, 24'000, 10'000'000), 2);
    EXPECT_EQ(ElapsedMilliseconds(0, 35'000, 10'000'000), 4);
    EXPECT_EQ(ElapsedMilliseconds(100, 100, 3), 0);
    EXPECT_EQ(WriteLine(0x50, 2), "WriteCmd: SET_TIME ;t= 2 ms");
    EXPECT_EQ(ReadLine(0x08, 0, 37), "ReadCmd 8 ;t= 0 ms; Bytes read: 37");
}

// A clock whose counter advances by a given amount at every reading.
class SteppingClock : public Clock {
public:
    void sleep(std::uint32_t) override {}
    std::int64_t counter() override {
        now_ += steps.empty() ? 0 : steps.front();
        if (!steps.empty()) steps.pop_front();
        return now_;
    }
    std::int64_t frequency() override { return 10'000'000; }
    std::deque<std::int64_t> steps;

private:
    std::int64_t now_ = 0;
};

class TracedChannelTest : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedDriver driver;
    ListedInterfaces interfaces;
    SteppingClock clock;
    RecordingPlatform platform{driver, interfaces, clock};
    CommandTrace trace{dir.path() / "USBLog.txt"};
    Context ctx = WithTrace();

    Context WithTrace() {
        Context c = platform.context();
        c.trace = &trace;
        return c;
    }
    std::vector<std::string> Lines() {
        std::ifstream in(trace.file(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> lines;
        std::string all = text.str();
        for (std::size_t pos = 0; pos < all.size();) {
            const auto end = all.find("\r\n", pos);
            lines.push_back(all.substr(pos, end - pos));
            pos = end == std::string::npos ? all.size() : end + 2;
        }
        return lines;
    }
    std::uint32_t Exchange(const std::vector<std::uint8_t>& command, std::uint32_t& limit) {
        std::uint8_t reply[64] = {};
        return CommandExchange(ctx, 100, command.data(), static_cast<std::uint32_t>(command.size()), 1000, 1000, reply,
                               limit);
    }
};

TEST_F(TracedChannelTest, EveryExchangeWritesItsLines) {
    Handle handle = 0;
    ASSERT_EQ(OpenChannel(ctx, "dev", handle), 0u);
    driver.replies.push_back({0x00, 0x02, 0x00, 0x51, 1, 2});
    clock.steps = {0, 24'000, 0, 15'000};  // write 2.4 ms, read 1.5 ms
    std::uint32_t limit = 64;
    EXPECT_EQ(Exchange({0x00, 0x02, 0x00, 0x50, 'P'}, limit), 0u);
    // A command shorter than four bytes is named by code 0; a failed write gives no read line.
    driver.failAt = static_cast<long long>(driver.requests.size());
    EXPECT_NE(Exchange({0x10, 0x00, 0x00}, limit), 0u);
    // A failed read still writes its line with the count the request reported.
    driver.failAt = static_cast<long long>(driver.requests.size()) + 1;
    EXPECT_NE(Exchange({0x00, 0x02, 0x00, 0x07}, limit), 0u);
    EXPECT_THAT(Lines(), ElementsAre("WriteCmd: SET_TIME ;t= 2 ms", "ReadCmd GET_TIME ;t= 2 ms; Bytes read: 6",
                                     "WriteCmd: 0 ;t= 0 ms", "WriteCmd: 7 ;t= 0 ms", "ReadCmd 0 ;t= 0 ms; Bytes read: 0"));

    // WriteOnly and ResetPipe write nothing; a new open starts an empty trace.
    const std::uint8_t packet[64] = {0xFF, 1};
    WriteOnly(ctx, 100, packet, 64);
    ResetPipe(ctx, 100, 0);
    EXPECT_EQ(Lines().size(), 5u);
    CloseChannel(ctx, handle);
    ASSERT_EQ(OpenChannel(ctx, "dev", handle), 0u);
    EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(TracedChannelTest, FailedOpenStillCreatesTheFile) {
    driver.openError = 2;
    Handle handle = 0;
    std::ofstream(trace.file()) << "old lines\r\n";
    EXPECT_EQ(OpenChannel(ctx, "missing", handle), 2u);
    EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(TracedChannelTest, UnwritableTraceStopsTheOperationAndLeavesNoHandle) {
    CommandTrace bad(dir.path() / "no-such-folder" / "USBLog.txt");
    EXPECT_THROW(bad.CheckWritable(), ETraceError);
    Context c = platform.context();
    c.trace = &bad;
    Handle handle = 0;
    EXPECT_THROW(OpenChannel(c, "dev", handle), ETraceError);
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(driver.closes.size(), 1u);
}

TEST(CommandTraceOffTest, NothingIsWrittenWithoutATrace) {
    TempDir dir;
    ScriptedDriver driver;
    RecordingPlatform platform(driver, dir.path());
    Handle handle = 0;
    OpenChannel(platform.context(), "dev", handle);
    std::uint8_t reply[64];
    std::uint32_t limit = 64;
    const std::uint8_t command[4] = {0, 2, 0, 0x50};
    CommandExchange(platform.context(), handle, command, 4, 1000, 1000, reply, limit);
    CloseChannel(platform.context(), handle);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace rovenza
