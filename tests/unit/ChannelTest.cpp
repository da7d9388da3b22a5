// The driver channels against a scripted driver: what is sent, and what the callers get back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/RecordingPlatform.h"
#include "usb/VELKUSB.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

class ChannelTest : public ::testing::Test {
protected:
    ScriptedDriver driver;
    RecordingPlatform platform{driver};
    const Context& ctx = platform.context();
    Handle handle = 7;
};

TEST_F(ChannelTest, FirstGenerationOpenUsesWriteAccessAndWriteSharing) {
    Handle h = 0;
    EXPECT_EQ(OpenChannel(ctx, "\\\\.\\vkusb-0", h), 0u);
    EXPECT_NE(h, kInvalidHandle);
    ASSERT_EQ(driver.opens.size(), 1u);
    EXPECT_EQ(driver.opens[0].access, kGenericWrite);
    EXPECT_EQ(driver.opens[0].share, kFileShareWrite);

    driver.openError = kErrorFileNotFound;
    EXPECT_EQ(OpenChannel(ctx, "\\\\.\\missing", h), kErrorFileNotFound);
    EXPECT_EQ(h, kInvalidHandle);
}

TEST_F(ChannelTest, SecondGenerationOpenIsExclusiveReadWrite) {
    Handle h = 0;
    EXPECT_EQ(OpenChannel2(ctx, "path", h), 0u);
    EXPECT_EQ(driver.opens[0].access, kGenericRead | kGenericWrite);
    EXPECT_EQ(driver.opens[0].share, 0u);
}

TEST_F(ChannelTest, CloseSkipsInvalidHandles) {
    CloseChannel(ctx, kInvalidHandle);
    Handle h2 = kInvalidHandle;
    CloseChannel2(ctx, h2);
    EXPECT_TRUE(driver.closes.empty());
    Handle open2 = 9;
    CloseChannel2(ctx, open2);
    EXPECT_EQ(open2, kInvalidHandle);
    CloseChannel(ctx, 5);
    EXPECT_THAT(driver.closes, ElementsAre(9u, 5u));
}

TEST_F(ChannelTest, ExchangeSendsWriteThenReadWithTheirHeaders) {
    driver.replies.push_back({0x00, 0x02, 0x00, 0x0D, 'A', 'B'});
    const std::uint8_t command[] = {0x00, 0x02, 0x00, 0x0D, 0x00};
    std::uint8_t reply[64] = {};
    std::uint32_t limit = 64;
    EXPECT_EQ(CommandExchange(ctx, handle, command, 5, 1000, 15000, reply, limit), 0u);
    EXPECT_EQ(limit, 6u);
    EXPECT_EQ(reply[4], 'A');
    ASSERT_EQ(driver.requests.size(), 2u);
    EXPECT_EQ(driver.requests[0].code, kIoctlWrite);
    EXPECT_EQ(driver.requests[0].input, EncodeRequestHeader({0, 1000}));
    EXPECT_EQ(driver.requests[0].output, Bytes(command, command + 5));
    EXPECT_EQ(driver.requests[1].code, kIoctlRead);
    EXPECT_EQ(driver.requests[1].input, EncodeRequestHeader({1, 15000}));
    EXPECT_EQ(driver.requests[1].outSize, 64u);
    EXPECT_THAT(EncodeRequestHeader({1, 15000}), ElementsAre(1, 0, 0, 0, 0x98, 0x3A, 0, 0));
}

TEST_F(ChannelTest, FailedWriteSendsNoReadAndKeepsTheLimit) {
    driver.failAt = 0;
    driver.failError = 0;  // a failure without a system code still reads as one
    const std::uint8_t command[3] = {0x10, 0, 0};
    std::uint8_t reply[64];
    std::uint32_t limit = 64;
    EXPECT_EQ(CommandExchange(ctx, handle, command, 3, 1000, 10, reply, limit), 1u);
    EXPECT_EQ(limit, 64u);
    EXPECT_EQ(driver.requests.size(), 1u);

    driver.failError = kErrorDeviceNotConnected;
    driver.failAt = driver.requests.size();
    EXPECT_EQ(CommandExchange(ctx, handle, command, 3, 1000, 10, reply, limit), kErrorDeviceNotConnected);
}

TEST_F(ChannelTest, FailedReadKeepsTheLimitAndZeroByteReadSetsIt) {
    const std::uint8_t command[1] = {0};
    std::uint8_t reply[64];
    std::uint32_t limit = 37;
    driver.failAt = 1;
    driver.failError = kErrorTimeout;
    EXPECT_EQ(CommandExchange(ctx, handle, command, 1, 1000, 1000, reply, limit), kErrorTimeout);
    EXPECT_EQ(limit, 37u);

    driver.failAt = -1;
    driver.replies.push_back({});
    EXPECT_EQ(CommandExchange(ctx, handle, command, 1, 1000, 1000, reply, limit), 0u);
    EXPECT_EQ(limit, 0u);

    // A limit of 0 still sends the read request, with an empty buffer.
    EXPECT_EQ(CommandExchange(ctx, handle, command, 1, 1000, 1000, reply, limit), 0u);
    EXPECT_EQ(driver.requests.back().code, kIoctlRead);
    EXPECT_EQ(driver.requests.back().outSize, 0u);
}

TEST_F(ChannelTest, WriteOnlyAndResetPipeCarryTheFourBytePipeWord) {
    const std::uint8_t packet[64] = {0xFF, 1};
    EXPECT_EQ(WriteOnly(ctx, handle, packet, 64), 0u);
    EXPECT_EQ(ResetPipe(ctx, handle, 0), 0u);
    ASSERT_EQ(driver.requests.size(), 2u);
    EXPECT_EQ(driver.requests[0].code, kIoctlWrite);
    EXPECT_THAT(driver.requests[0].input, ElementsAre(0, 0, 0, 0));
    EXPECT_EQ(driver.requests[0].output.size(), 64u);
    EXPECT_EQ(driver.requests[1].code, kIoctlReset);
    EXPECT_THAT(driver.requests[1].input, ElementsAre(0, 0, 0, 0));
    EXPECT_EQ(driver.requests[1].outSize, 0u);
}

TEST_F(ChannelTest, SecondGenerationExchange) {
    Bytes reply{1, 2, 3};
    EXPECT_EQ(CommandExchange2(ctx, kInvalidHandle, {0xA0, 1}, 1000, reply), kErrorInvalidHandle);
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(driver.requests.empty());

    driver.replies.push_back(Bytes(80, 0x5A));  // the driver never gives more than the buffer
    EXPECT_EQ(CommandExchange2(ctx, handle, {0xA0, 1}, 1000, reply), 0u);
    EXPECT_EQ(reply.size(), 64u);
    EXPECT_EQ(driver.requests[0].code, kIoctlWrite2);
    EXPECT_EQ(driver.requests[1].code, kIoctlRead2);
    EXPECT_EQ(driver.requests[1].input, EncodeRequestHeader({1, 1000}));

    driver.failAt = driver.requests.size() + 1;
    driver.failError = kErrorTimeout;
    EXPECT_EQ(CommandExchange2(ctx, handle, {0xA0, 1}, 1000, reply), kErrorTimeout);
    EXPECT_TRUE(reply.empty());
}

}  // namespace
}  // namespace rovenza
