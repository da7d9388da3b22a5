// Frames built and checked by pure functions: what goes on the wire for a given input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "protocols/CanUpload.h"
#include "protocols/FpgaConfig.h"
#include "protocols/PicBootLoader.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t start = 0) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}

TEST(FramesTest, FpgaBlocksCarryA24BitBigEndianAddress) {
    const auto block = Counting(32, 0x40);
    const auto write = FpgaWriteBlockCommand(0x12345678, block.data());
    ASSERT_EQ(write.size(), 39u);
    EXPECT_THAT(std::vector<std::uint8_t>(write.begin(), write.begin() + 7), ElementsAre(0, 2, 0, 0x52, 0x34, 0x56, 0x78));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), write.begin() + 7));
    EXPECT_THAT(FpgaReadBlockCommand(32), ElementsAre(0, 2, 0, 0x53, 0, 0, 0x20));
    const auto reset = FpgaResetPacket();
    EXPECT_EQ(reset[0], 0xFF);
    EXPECT_EQ(reset[1], 1);
    EXPECT_EQ(std::accumulate(reset.begin() + 2, reset.end(), 0), 0);
}

TEST(FramesTest, FpgaReadBackIgnoresOnlyTheFifthByte) {
    const auto block = Counting(32, 7);
    std::vector<std::uint8_t> reply{0, 2, 0, 0x53, 0xAB};
    reply.insert(reply.end(), block.begin(), block.end());
    EXPECT_TRUE(FpgaReadBackMatches(reply.data(), 37, block.data()));
    reply[4] = 0x00;
    EXPECT_TRUE(FpgaReadBackMatches(reply.data(), 37, block.data()));
    EXPECT_FALSE(FpgaReadBackMatches(reply.data(), 36, block.data()));
    auto wrongData = reply;
    wrongData[36] ^= 1;
    EXPECT_FALSE(FpgaReadBackMatches(wrongData.data(), 37, block.data()));
    auto wrongHead = reply;
    wrongHead[3] = 0x52;
    EXPECT_FALSE(FpgaReadBackMatches(wrongHead.data(), 37, block.data()));
}

TEST(FramesTest, CanHalvesSplitTheBlockAfterByte32) {
    const auto block = Counting(64, 100);
    const auto first = CanFirstHalf(0x07C0, block.data());
    EXPECT_THAT(std::vector<std::uint8_t>(first.begin(), first.begin() + 6), ElementsAre(0x0A, 0x00, 0x02, 0x00, 0x07, 0xC0));
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + 33, first.begin() + 6));
    const auto second = CanSecondHalf(block.data());
    EXPECT_EQ(second[0], 0x0A);
    EXPECT_EQ(second[1], 0x01);
    EXPECT_TRUE(std::equal(block.begin() + 33, block.end(), second.begin() + 2));
    const auto finish = CanFinishCommand();
    EXPECT_THAT(std::vector<std::uint8_t>(finish.begin(), finish.begin() + 6), ElementsAre(0x0B, 0x00, 0x03, 0x03, 0x0F, 0x00));
}

TEST(FramesTest, BootLoaderPacketKeepsWhatTheLastCommandLeft) {
    BootLoaderPacket packet;
    const auto row = Counting(32, 1);
    packet.SetData(row.data(), 32);
    packet.SetHeader(PicCommand::ERASE_FLASH, 32, RowAddress(2));
    EXPECT_THAT(std::vector<std::uint8_t>(packet.data(), packet.data() + 6), ElementsAre(3, 32, 0x40, 0x08, 0, 1));
    const std::uint8_t eeprom = 0xFF;
    packet.SetData(&eeprom, 1);
    packet.SetHeader(PicCommand::WRITE_EEDATA, 1, kEepromAddress);
    EXPECT_THAT(std::vector<std::uint8_t>(packet.data(), packet.data() + 7), ElementsAre(5, 1, 0xFF, 0x00, 0, 0xFF, 2));
    EXPECT_EQ(RowAddress(959), 0x7FE0);

    std::vector<std::uint8_t> reply{1, 32, 0, 8, 0};
    reply.insert(reply.end(), row.begin(), row.end());
    EXPECT_TRUE(ReadBackMatches(reply.data(), 37, row.data()));
    EXPECT_FALSE(ReadBackMatches(reply.data(), 36, row.data()));
}

}  // namespace
}  // namespace rovenza
