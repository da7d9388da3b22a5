// The I2C word exchange with the amplifier modules' bridge: the word frames, the completion
// poll and its time limit, and the module word commands, against a scripted driver and a
// clock whose counter moves on every reading.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "support/RecordingPlatform.h"
#include "usb/VELKUSB_2.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;

// Every reading of the counter is `stepMs` later than the one before.
class TickingClock : public CountingClock {
public:
    std::int64_t counter() override {
        nowMs += stepMs;
        ++readings;
        return nowMs * 1000;
    }
    std::int64_t stepMs = 100;
    int readings = 0;
};

Bytes ReadyReply(const Words& words) {
    const auto frame = PackWordFrame(words);
    Bytes reply(1 + frame.size(), 0x01);
    std::copy(frame.begin(), frame.end(), reply.begin() + 1);
    return reply;
}

TEST(ModuleWordFramesTest, FramesAndWordsMostSignificantByteFirst) {
    const WordFrame words = PackWordFrame({19, 2, 0xA501545A});
    EXPECT_THAT(words, ElementsAre(0, 0, 0, 19, 0, 0, 0, 2, 0xA5, 0x01, 0x54, 0x5A));
    EXPECT_EQ(UnpackWordFrame(words), (Words{19, 2, 0xA501545A}));
    EXPECT_EQ(UnpackWordFrame(PackWordFrame({0xFFFFFFFF, 0x80000001, 0x00FF00FF})),
              (Words{0xFFFFFFFF, 0x80000001, 0x00FF00FF}));

    EXPECT_THAT(I2cWriteFrame(0x3F, words),
                ElementsAre(0xAD, 0x3F, 12, 0, 0, 0, 19, 0, 0, 0, 2, 0xA5, 0x01, 0x54, 0x5A));
    EXPECT_THAT(I2cStartReadFrame(0x3F), ElementsAre(0xB0, 0x3F, 12));
    EXPECT_THAT(I2cPollFrame(), ElementsAre(0xB1));
}

TEST(ModuleWordFramesTest, PollReplyIsReadyOnlyWhenLongerThanTwelveBytesAndFlagged) {
    Bytes thirteen(13, 0);
    for (int i = 1; i < 13; ++i) thirteen[i] = static_cast<std::uint8_t>(i);
    const struct {
        const char* what;
        Bytes reply;
        bool ready;
    } cases[] = {
        {"empty", {}, false},
        {"twelve bytes flagged", Bytes(12, 1), false},
        {"thirteen bytes, flag 0", thirteen, false},
        {"thirteen bytes flagged", [&] { auto r = thirteen; r[0] = 0x80; return r; }(), true},
        {"64 bytes flagged", [&] { auto r = thirteen; r[0] = 1; r.resize(64, 0xEE); return r; }(), true},
    };
    for (const auto& c : cases) {
        WordFrame data{};
        data.fill(0x77);
        EXPECT_EQ(DecodeI2cPollReply(c.reply, data), c.ready) << c.what;
        if (c.ready)
            EXPECT_THAT(data, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12)) << c.what;
        else
            EXPECT_EQ(data[0], 0x77) << c.what << ": untouched";
    }
}

TEST(ModuleWordFramesTest, SwapWordReversesTheFourBytes) {
    const struct {
        std::uint32_t in, out;
    } cases[] = {{0x12345678, 0x78563412}, {0xA5010100, 0x000101A5}, {0, 0}, {0xFF000000, 0x000000FF}};
    for (const auto& c : cases) {
        std::uint32_t value = c.in;
        SwapWord(value);
        EXPECT_EQ(value, c.out) << std::hex << c.in;
        SwapWord(value);
        EXPECT_EQ(value, c.in);
    }
}

class ModuleWordsTest : public ::testing::Test {
protected:
    ScriptedDriver driver;
    ListedInterfaces interfaces;
    TickingClock clock;
    RecordingPlatform platform{driver, interfaces, clock};
    const Context& ctx = platform.context();
    Handle handle = 7;

    std::vector<Bytes> Frames() const {
        std::vector<Bytes> frames;
        for (const auto& request : driver.requests)
            if (request.code == kIoctlWrite2) frames.push_back(request.output);
        return frames;
    }
    std::size_t Polls() const {
        std::size_t polls = 0;
        for (const auto& frame : Frames()) polls += frame == I2cPollFrame();
        return polls;
    }
};

TEST_F(ModuleWordsTest, PollThatNeverSeesAReadyReplyTimesOutWithoutPausing) {
    const struct {
        const char* what;
        Bytes reply;
    } cases[] = {
        {"no bytes", {}},
        {"twelve bytes", Bytes(12, 1)},
        {"not flagged", Bytes(13, 0)},
    };
    for (const auto& c : cases) {
        driver.requests.clear();
        driver.replies.assign(20, c.reply);
        platform.debug.lines.clear();
        WordFrame data{};
        EXPECT_EQ(I2cPoll(ctx, handle, data, 0.5f), kErrorTimeout) << c.what;
        EXPECT_THAT(platform.debug.lines, ElementsAre("VKUSB: I2c timeout")) << c.what;
        // 100 ms pass per counter reading: the sixth poll is the first seen more than 0.5 s in.
        EXPECT_EQ(Polls(), 6u) << c.what;
        EXPECT_EQ(Frames().size(), 6u) << c.what;
    }
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(ModuleWordsTest, PollReturnsTheDataOfTheFirstReadyReplyAndFailuresAtOnce) {
    driver.replies = {Bytes(13, 0), Bytes(13, 0), ReadyReply({1, 2, 3})};
    WordFrame data{};
    EXPECT_EQ(I2cPoll(ctx, handle, data, 0.5f), 0u);
    EXPECT_EQ(UnpackWordFrame(data), (Words{1, 2, 3}));
    EXPECT_EQ(Polls(), 3u);

    driver.requests.clear();
    driver.failAt = 3;  // the second poll's read
    EXPECT_EQ(I2cPoll(ctx, handle, data, 0.5f), kErrorGenFailure);
    EXPECT_EQ(Polls(), 2u);
    EXPECT_TRUE(platform.debug.lines.empty());
}

TEST_F(ModuleWordsTest, WriteWordsIsZeroEvenWhenItsPollTimesOut) {
    EXPECT_EQ(I2cWriteWords(ctx, handle, 21, 0x03, 0xFFFFFFFF), 0u);
    EXPECT_THAT(platform.debug.lines, ElementsAre("VKUSB: I2c timeout"));
    const auto frames = Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0], I2cWriteFrame(0x3F, PackWordFrame({21, 0x03, 0xFFFFFFFF})));
    EXPECT_EQ(Polls(), frames.size() - 1);

    // A failed write is the result, and no poll follows.
    driver.requests.clear();
    driver.failAt = 1;
    EXPECT_EQ(I2cWriteWords(ctx, handle, 21, 1, 2), kErrorGenFailure);
    EXPECT_EQ(Polls(), 0u);
}

TEST_F(ModuleWordsTest, InvalidHandleSendsNothing) {
    Words words{5, 5, 5};
    std::uint32_t word = 5;
    const struct {
        const char* what;
        std::function<std::uint32_t()> call;
    } cases[] = {
        {"I2cWriteWords", [&] { return I2cWriteWords(ctx, kInvalidHandle, 21, 1, 2); }},
        {"I2cQueryWord", [&] { return I2cQueryWord(ctx, kInvalidHandle, 23, 1, 2, 0.5f, word); }},
        {"I2cQueryWords", [&] { return I2cQueryWords(ctx, kInvalidHandle, 20, 1, 2, words); }},
        {"WriteModuleWord", [&] { return WriteModuleWord(ctx, kInvalidHandle, 1, 2); }},
        {"ReadModuleWords", [&] { return ReadModuleWords(ctx, kInvalidHandle, 1, words); }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), kErrorInvalidHandle) << c.what;
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_EQ(words, (Words{}));
    EXPECT_EQ(word, 0u);
}

TEST_F(ModuleWordsTest, ReadModuleWordsChecksTheCountAndZeroesWhatAFailedQueryLeaves) {
    const struct {
        const char* what;
        std::vector<Bytes> replies;
        long long failAt;
        std::uint32_t expected;
        Words words;
    } cases[] = {
        {"count 8", {{}, ReadyReply({8, 0xA5020007, 0x5A000000})}, -1, 0, {8, 0xA5020007, 0x5A000000}},
        {"count 9", {{}, ReadyReply({9, 1, 2})}, -1, kReplyCheckFailed, {9, 1, 2}},
        {"count 0xFFFFFFFF", {{}, ReadyReply({0xFFFFFFFF, 1, 2})}, -1, kReplyCheckFailed, {0xFFFFFFFF, 1, 2}},
        {"write fails", {}, 1, kErrorGenFailure, {}},
        {"poll fails", {}, 3, kErrorGenFailure, {}},
        {"bridge never answers", {}, -1, kErrorTimeout, {}},
    };
    for (const auto& c : cases) {
        driver.requests.clear();
        driver.replies.assign(c.replies.begin(), c.replies.end());
        driver.failAt = c.failAt;
        Words words{9, 9, 9};  // a stale count above 8 must not turn a failure into 0x2000
        EXPECT_EQ(ReadModuleWords(ctx, handle, 4, words), c.expected) << c.what;
        EXPECT_EQ(words, c.words) << c.what;
        EXPECT_EQ(Frames().at(0), I2cWriteFrame(0x3F, PackWordFrame({20, 4, 0xFFFFFFFF}))) << c.what;
    }
}

TEST_F(ModuleWordsTest, QueryWordTakesReplyWordZeroWithinTheCallersLimit) {
    driver.replies = {{}, Bytes(13, 0), ReadyReply({0xFF, 7, 8})};  // the write's reply, then two polls
    std::uint32_t word = 0;
    EXPECT_EQ(I2cQueryWord(ctx, handle, 23, 0xFFFFFFFF, 0xFFFFFFFF, 0.5f, word), 0u);
    EXPECT_EQ(word, 0xFFu);
    EXPECT_EQ(Frames().at(0), I2cWriteFrame(0x3F, PackWordFrame({23, 0xFFFFFFFF, 0xFFFFFFFF})));

    // A limit of 0.25 s gives up after the third poll (0.3 s seen).
    driver.requests.clear();
    word = 3;
    EXPECT_EQ(I2cQueryWord(ctx, handle, 23, 1, 2, 0.25f, word), kErrorTimeout);
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(Polls(), 3u);
}

TEST_F(ModuleWordsTest, WriteModuleWordSendsCommand19) {
    driver.replies = {{}, ReadyReply({})};
    EXPECT_EQ(WriteModuleWord(ctx, handle, 6, 0xA501545A), 0u);
    EXPECT_THAT(Frames(), ElementsAre(I2cWriteFrame(0x3F, PackWordFrame({19, 6, 0xA501545A})), I2cPollFrame()));
}

}  // namespace
}  // namespace rovenza
