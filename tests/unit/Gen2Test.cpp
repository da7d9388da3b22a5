// Second-generation requests: the frames on the wire, the checks on their replies, the chunked
// memory requests and the device list, against a scripted driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "support/RecordingPlatform.h"
#include "usb/VELKUSB_2.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(Gen2FramesTest, EveryFrameByteForByteAndNamedByItsFirstByte) {
    const struct {
        Bytes frame;
        Bytes expected;
        std::string_view name;
    } cases[] = {
        {SetModeFrame(1), {0xA0, 0x01}, "SET_MODE"},
        {GetStatusFrame(), {0xA1}, "GET_STATUS"},
        {FlashReadFrame(0x123456, 0x40), {0xA5, 0x12, 0x34, 0x56, 0x40}, "FLASH_READ"},
        {FlashWriteFrame(0xABCDEF, Bytes{7, 8, 9}.data(), 3), {0xA6, 0xAB, 0xCD, 0xEF, 3, 7, 8, 9}, "FLASH_WRITE"},
        {FlashEraseFrame(), {0xA7}, "FLASH_ERASE"},
        {MemReadFrame(0x1E00, 16), {0xA8, 0x1E, 0x00, 16}, "MEM_READ"},
        {MemWriteFrame(0xFFF8, Bytes{5, 6}.data(), 2), {0xA9, 0xFF, 0xF8, 2, 5, 6}, "MEM_WRITE"},
        {MemWriteFrame(0x0300, nullptr, 0), {0xA9, 0x03, 0x00, 0}, "MEM_WRITE"},
        {FpgaPowerFrame(true), {0xAF, 1}, "FPGA_POWER"},
        {FpgaPowerFrame(false), {0xAF, 0}, "FPGA_POWER"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.frame, c.expected) << c.name;
        EXPECT_EQ(Gen2RequestName(c.frame[0]), c.name);
    }
    EXPECT_EQ(Gen2RequestName(0xAD), "I2C_WRITE");
    EXPECT_EQ(Gen2RequestName(0xB0), "I2C_START_READ");
    EXPECT_EQ(Gen2RequestName(0xB1), "I2C_POLL");
    EXPECT_EQ(Gen2RequestName(0xA2), "");
}

class Gen2RequestTest : public ::testing::Test {
protected:
    ScriptedDriver driver;
    RecordingPlatform platform{driver};
    const Context& ctx = platform.context();
    Handle handle = 7;

    // The frames written, each checked to travel with the parameter 1000.
    std::vector<Bytes> Frames() const {
        std::vector<Bytes> frames;
        for (const auto& request : driver.requests) {
            EXPECT_EQ(request.input, EncodeRequestHeader({request.code == kIoctlWrite2 ? 0u : 1u, 1000}));
            if (request.code == kIoctlWrite2) frames.push_back(request.output);
        }
        return frames;
    }
};

TEST_F(Gen2RequestTest, ResultCodesAndReplyChecks) {
    Gen2Status status;
    Bytes data{0xEE};
    const struct {
        const char* what;
        std::vector<Bytes> replies;
        long long failAt;
        std::function<std::uint32_t()> call;
        std::uint32_t expected;
        std::size_t requests;
    } cases[] = {
        {"set mode", {}, -1, [&] { return SET_MODE(ctx, handle, 1); }, 0, 2},
        {"failed read of an exchange", {}, 1, [&] { return FPGA_POWER(ctx, handle, true); }, kErrorGenFailure, 2},
        {"invalid handle", {}, -1, [&] { return FLASH_ERASE(ctx, kInvalidHandle); }, kErrorInvalidHandle, 0},
        {"status of 4 bytes", {{1, 2, 3, 4}}, -1, [&] { return GET_STATUS(ctx, handle, status); }, 0x2000, 2},
        {"status", {{0x81, 2, 1, 4, 0x80, 9}}, -1, [&] { return GET_STATUS(ctx, handle, status); }, 0, 2},
        {"echo of part of the data", {{1, 2}}, -1,
         [&] { return FLASH_WRITE(ctx, handle, 0x10, {1, 2, 3}); }, 0x2000, 2},
        {"echo that differs", {{1, 2, 4}}, -1, [&] { return FLASH_WRITE(ctx, handle, 0x10, {1, 2, 3}); }, 0x2000, 2},
        {"echo with more bytes", {{1, 2, 3, 0x55}}, -1,
         [&] { return FLASH_WRITE(ctx, handle, 0x10, {1, 2, 3}); }, 0, 2},
        {"flash write over 255 bytes", {}, -1,
         [&] { return FLASH_WRITE(ctx, handle, 0, Bytes(256)); }, kErrorInvalidParameter, 0},
        {"failed flash read keeps the data", {}, 1, [&] { return FLASH_READ(ctx, handle, 0, 4, data); }, kErrorGenFailure, 2},
        {"flash read cut to n", {Bytes(64, 0x42)}, -1, [&] { return FLASH_READ(ctx, handle, 0, 4, data); }, 0, 2},
    };
    for (const auto& c : cases) {
        driver.requests.clear();
        driver.replies.assign(c.replies.begin(), c.replies.end());
        driver.failAt = c.failAt;
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_EQ(driver.requests.size(), c.requests) << c.what;
        if (std::string_view(c.what) == "status of 4 bytes") {
            EXPECT_EQ(status.Field0, 0) << "untouched";
        }
        if (std::string_view(c.what) == "failed flash read keeps the data") {
            EXPECT_EQ(data, Bytes{0xEE});
        }
    }
    EXPECT_EQ(status.Field0, 0x81);
    EXPECT_EQ(status.Field1, 2);
    EXPECT_EQ(status.Busy, 1);
    EXPECT_EQ(status.Field3, 4);
    EXPECT_EQ(status.Field4, 0x81);  // lowest bit inverted
    EXPECT_EQ(data, Bytes(4, 0x42));

    driver.replies = {{1, 2}};
    EXPECT_EQ(FLASH_READ(ctx, handle, 0, 4, data), 0u);
    EXPECT_EQ(data, (Bytes{1, 2})) << "a shorter reply stays shorter";
}

TEST_F(Gen2RequestTest, MemoryRequestsChunkBy16AndWrapAt16Bits) {
    const struct {
        bool write;
        std::uint16_t address;
        std::size_t count;
        std::vector<std::pair<std::uint16_t, std::uint8_t>> chunks;
    } cases[] = {
        {false, 0x1E00, 20, {{0x1E00, 16}, {0x1E10, 4}}},
        {false, 0x0100, 0, {{0x0100, 0}}},
        {false, 0xFFF8, 16, {{0xFFF8, 16}}},
        {false, 0xFFF8, 20, {{0xFFF8, 16}, {0x0008, 4}}},
        {true, 0x0200, 33, {{0x0200, 16}, {0x0210, 16}, {0x0220, 1}}},
        {true, 0x0300, 0, {{0x0300, 0}}},
    };
    for (const auto& c : cases) {
        driver.requests.clear();
        Bytes data(c.count);
        for (std::size_t i = 0; i < c.count; ++i) data[i] = static_cast<std::uint8_t>(i + 1);
        if (!c.write)
            for (std::size_t at = 0; const auto& [address, k] : c.chunks) {
                driver.replies.push_back(Bytes(data.begin() + at, data.begin() + at + k));
                at += k;
            }
        Bytes read;
        EXPECT_EQ(c.write ? MEM_WRITE(ctx, handle, c.address, data) : MEM_READ(ctx, handle, c.address, c.count, read), 0u);
        const auto frames = Frames();
        ASSERT_EQ(frames.size(), c.chunks.size()) << c.address << "+" << c.count;
        std::size_t position = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto [address, k] = c.chunks[i];
            Bytes expected{static_cast<std::uint8_t>(c.write ? 0xA9 : 0xA8), static_cast<std::uint8_t>(address >> 8),
                           static_cast<std::uint8_t>(address), k};
            if (c.write) expected.insert(expected.end(), data.begin() + position, data.begin() + position + k);
            EXPECT_EQ(frames[i], expected) << c.address << "+" << c.count << " chunk " << i;
            position += k;
        }
        if (!c.write) {
            EXPECT_EQ(read, data);
        }
        driver.replies.clear();
    }
}

TEST_F(Gen2RequestTest, MemReadReportsTheFirstFailureAndZeroesWhatItDidNotGet) {
    const Bytes a(16, 0x11), b(16, 0x22), c(8, 0x33), z16(16, 0), z6(6, 0);
    const struct {
        const char* what;
        long long failAt;  // requests alternate write, read: chunk i is read by request 2i+1
        std::vector<Bytes> replies;
        std::uint32_t expected;
        Bytes data;
    } cases[] = {
        {"all good, long replies cut", -1, {Concat({a, b}), Concat({b, a}), Bytes(64, 0x33)}, 0, Concat({a, b, c})},
        {"first chunk fails, later ones succeed", 1, {b, c}, kErrorGenFailure, Concat({z16, b, c})},
        {"second chunk short", -1, {a, Bytes(10, 0x22), c}, 0x2000, Concat({a, Bytes(10, 0x22), z6, c})},
        {"short, then a failure", 5, {Bytes(10, 0x11), b}, 0x2000, Concat({Bytes(10, 0x11), z6, b, Bytes(8, 0)})},
        {"empty reply", -1, {a, b, {}}, 0x2000, Concat({a, b, Bytes(8, 0)})},
    };
    for (const auto& t : cases) {
        driver.requests.clear();
        driver.replies.assign(t.replies.begin(), t.replies.end());
        driver.failAt = t.failAt;
        Bytes data(3, 0xEE);
        EXPECT_EQ(MEM_READ(ctx, handle, 0x4000, 40, data), t.expected) << t.what;
        EXPECT_EQ(data, t.data) << t.what;
        EXPECT_EQ(driver.requests.size(), 6u) << t.what << ": every chunk is sent";
    }

    SerialBlock block;
    block.fill(0xEE);
    driver.requests.clear();
    driver.failAt = -1;
    driver.replies = {Bytes(16, 0x41), Bytes(3, 0x42)};
    EXPECT_EQ(ReadSerialBlock(ctx, handle, block), 0x2000u);
    SerialBlock untouched;
    untouched.fill(0xEE);
    EXPECT_EQ(block, untouched);
    EXPECT_THAT(Frames(), ElementsAre(Bytes{0xA8, 0x1E, 0x00, 16}, Bytes{0xA8, 0x1E, 0x10, 4}));
    driver.replies = {Bytes(16, 0x41), Bytes(4, 0x42)};
    EXPECT_EQ(ReadSerialBlock(ctx, handle, block), 0u);
    EXPECT_EQ(Bytes(block.begin(), block.end()), Concat({Bytes(16, 0x41), Bytes(4, 0x42)}));
}

TEST(Gen2ImagesTest, BitsSwapInEveryByteAndTheIdentityRecordReplacesOnlyWhatTheImageReaches) {
    Bytes block{0x01, 0x12, 0x0F, 0xA5, 0x00, 0xFF, 0x80, 0xC4};
    SwapBits(block.data(), 7);
    EXPECT_THAT(block, ElementsAre(0x80, 0x48, 0xF0, 0xA5, 0x00, 0xFF, 0x01, 0xC4));  // the 8th left as it was

    std::array<std::uint8_t, 20> record{};
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(0xD0 + i);
    struct Row {
        std::size_t size;
        bool reaches;
        std::size_t replaced;  // image bytes from 0x1E00 on that take the record's
    };
    for (const Row& row : {Row{0x1E00, false, 0}, Row{0x1E01, true, 1}, Row{0x1E0A, true, 10}, Row{0x1E14, true, 20},
                           Row{0x2000, true, 20}}) {
        Bytes image(row.size, 0x5A);
        EXPECT_EQ(KeepIdentityRecord(image, record.data()), row.reaches) << row.size;
        ASSERT_EQ(image.size(), row.size);
        for (std::size_t a = 0; a < image.size(); ++a) {
            const bool inRecord = a >= 0x1E00 && a < 0x1E00 + row.replaced;
            ASSERT_EQ(image[a], inRecord ? record[a - 0x1E00] : 0x5A) << row.size << " at " << a;
        }
    }
}

TEST(DeviceListTest, RefreshListsEveryMemberInOrder) {
    ScriptedDriver driver;
    RecordingPlatform platform{driver};
    platform.interfaces.secondGeneration = {{"\\\\?\\usb#vid_1234&pid_0200#TV1#{g}", "Velkaro USB", 0},
                                            {"", "Unreadable", 1167},
                                            {"\\\\?\\usb#vid_1234&pid_0200#TV2#{g}", "", 0}};
    platform.interfaces.firstGeneration = {{"\\\\?\\usb#vid_1234&pid_0dac#x#{g}", "other class", 0}};
    TDeviceList list;
    for (int refresh = 0; refresh < 2; ++refresh) {
        list.Refresh(platform.context(), kSecondGenerationClass);
        ASSERT_EQ(list.Count(), 3u) << "entries of the earlier walk are dropped";
    }
    EXPECT_EQ(list.Items(0).DevicePath, "\\\\?\\usb#vid_1234&pid_0200#TV1#{g}");
    EXPECT_EQ(list.Items(0).FriendlyName, "Velkaro USB");
    EXPECT_EQ(list.Items(1).DevicePath, "");
    EXPECT_EQ(list.Items(1).FriendlyName, "Unreadable");
    EXPECT_EQ(list.Items(2).DevicePath, "\\\\?\\usb#vid_1234&pid_0200#TV2#{g}");
    ASSERT_EQ(platform.op.messages.size(), 2u);
    EXPECT_EQ(platform.op.messages[0].title, "");
    EXPECT_EQ(platform.op.messages[0].text, "Error 1167");

    platform.interfaces.classQueryFails = true;
    list.Refresh(platform.context(), kSecondGenerationClass);
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace rovenza
