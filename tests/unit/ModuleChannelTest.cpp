// The amplifier module command channel: frame packing and answer checks as pure functions, then
// the exchange with its retransmission, debugger lines and slot mask set-up against a scripted
// bridge that answers the word commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "support/RecordingPlatform.h"
#include "usb/VELKUSB_AMPL.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// ---- frames and checks ----

TEST(ModuleFramesTest, CommandFramePackedFourBytesToAWord) {
    const Bytes ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_THAT(ModuleCommandFrame(0x54, {}), ElementsAre(0xA5, 0x01, 0x54, 0x5A));
    EXPECT_THAT(ModuleCommandFrame(0x50, ten), ElementsAre(0xA5, 11, 0x50, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x5A));

    const struct {
        std::uint8_t code;
        Bytes payload;
        std::vector<std::uint32_t> words;
    } cases[] = {
        {0x54, {}, {0xA501545A}},
        {0x53, {}, {0xA501535A}},
        // 14 bytes: four words, the last with two pad bytes.
        {0x50, ten, {0xA50B5001, 0x02030405, 0x06070809, 0x0A5A0000}},
        {0xA7, {0xEE}, {0xA502A7EE, 0x5A000000}},
        // 28 bytes of payload make a frame of exactly eight words.
        {0x50, Bytes(28, 0x11), {0xA51D5011, 0x11111111, 0x11111111, 0x11111111, 0x11111111, 0x11111111,
                                 0x11111111, 0x1111115A}},
    };
    for (const auto& c : cases)
        EXPECT_THAT(ModuleCommandWords(c.code, c.payload), ElementsAreArray(c.words)) << std::hex << int(c.code);
}

TEST(ModuleFramesTest, AnswerBytesAreTheValidBytesOfBothWordsInOrder) {
    const struct {
        Words read;
        Bytes bytes;
    } cases[] = {
        {{0, 0xA5020007, 0x5A000000}, {}},
        {{3, 0xA5020007, 0x5A000000}, {0xA5, 0x02, 0x00}},
        {{5, 0xA5020007, 0x5A000000}, {0xA5, 0x02, 0x00, 0x07, 0x5A}},
        {{8, 0x01020304, 0x05060708}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {{9, 0x01020304, 0x05060708}, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& c : cases) EXPECT_EQ(ModuleAnswerBytes(c.read), c.bytes) << c.read.w0;
}

TEST(ModuleFramesTest, AcknowledgementRules) {
    const struct {
        const char* what;
        Words read;
        ModuleCheck check;
    } cases[] = {
        {"accepted", {4, 0xA501005A, 0}, {0, false}},
        {"status 1", {4, 0xA5010100, 0}, {kModuleRefused, false}},
        {"status 9", {4, 0xA5010900, 0}, {kModuleRefused, false}},
        {"starts with 0x00", {4, 0x00A50100, 0}, {kModuleNotAcknowledged, true}},
        {"three valid bytes", {3, 0xA5010000, 0}, {0, false}},
        {"two valid bytes", {2, 0xA5010000, 0}, {kModuleNotAcknowledged, true}},
        {"no valid byte", {0, 0xA5010000, 0}, {kModuleNotAcknowledged, true}},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckAcknowledgement(c.read), c.check) << c.what;
}

TEST(ModuleFramesTest, AnswerRules) {
    const struct {
        const char* what;
        Bytes collected;
        ModuleCheck check;
        Bytes payload;
    } cases[] = {
        {"one-byte payload", {0xA5, 0x02, 0x00, 0x07, 0x5A}, {0, false}, {0x07}},
        {"after leading bytes", {0x00, 0x13, 0xA5, 0x03, 0x00, 0x07, 0x08, 0x00}, {0, false}, {0x07, 0x08}},
        {"empty payload", {0xA5, 0x01, 0x00, 0x5A}, {0, false}, {}},
        {"no trailing byte", {0xA5, 0x02, 0x00, 0x07}, {kModuleNoAnswer, false}, {}},
        {"status 9", {0xA5, 0x02, 0x09, 0x07, 0x5A}, {kModuleStatusBusy, true}, {0x07}},
        {"status 3", {0xA5, 0x02, 0x03, 0x07, 0x5A}, {kModuleNoAnswer, false}, {}},
        {"length byte 0", {0xA5, 0x00, 0x00, 0x5A, 0x5A}, {kModuleNoAnswer, false}, {}},
        {"status without a byte after it", {0xA5, 0x01, 0x00}, {kModuleNoAnswer, false}, {}},
        {"no 0xA5", {0x00, 0x01, 0x02, 0x5A}, {kModuleNoAnswer, true}, {}},
        {"nothing", {}, {kModuleNoAnswer, true}, {}},
        {"length past the bytes", {0xA5, 0x09, 0x00, 0x07, 0x5A}, {kModuleNoAnswer, false}, {}},
    };
    for (const auto& c : cases) {
        Bytes payload;
        EXPECT_EQ(ParseModuleAnswer(c.collected, payload), c.check) << c.what;
        EXPECT_EQ(payload, c.payload) << c.what;
    }
}

TEST(ModuleFramesTest, DebuggerLinesNameTheCodeInUppercaseHexadecimal) {
    EXPECT_EQ(RetransmitLine(ModuleCall::SendCmd, 0x54), "Retransmit VELKUSB_AMPL_SendCmd - 54");
    EXPECT_EQ(RetransmitLine(ModuleCall::SendReadCmd, 0xA7), "Retransmit VELKUSB_AMPL_SendReadCmd - A7");
    EXPECT_EQ(ModuleErrorLine(ModuleCall::SendCmd, 0x0A), "ERROR - VELKUSB_AMPL_SendCmd - A");
    EXPECT_EQ(ModuleErrorLine(ModuleCall::SendReadCmd, 0x50), "ERROR - VELKUSB_AMPL_SendReadCmd - 50");
    EXPECT_EQ(RetransmitWait(0), 20u);
    EXPECT_EQ(RetransmitWait(9), 20u);
    EXPECT_EQ(RetransmitWait(50), 100u);
}

// ---- the exchange ----

// The instrument's I2C bridge with one module behind it: word command 19 collects the words
// written, 20 hands out the next scripted read, 23 reports the slot mask, 21 sets it. Every
// poll is ready at once.
class ScriptedBridge : public DriverPort {
public:
    Handle open(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t& error) override {
        error = kErrorFileNotFound;
        return kInvalidHandle;
    }
    void close(Handle) override {}
    bool ioControl(Handle, std::uint32_t code, const void*, std::uint32_t, void* out, std::uint32_t outSize,
                   std::uint32_t& bytesReturned, std::uint32_t& error) override {
        bytesReturned = 0;
        error = 0;
        if (code == kIoctlWrite2) {
            const auto* frame = static_cast<const std::uint8_t*>(out);
            last_.assign(frame, frame + outSize);
            if (last_.size() == 15 && last_[0] == 0xAD) {
                if (static_cast<int>(commands.size()) == failWriteAt) {
                    commands.push_back({});
                    error = kErrorGenFailure;
                    return false;
                }
                WordFrame data;
                std::copy(last_.begin() + 3, last_.end(), data.begin());
                Command(UnpackWordFrame(data));
            }
            return true;
        }
        if (last_.size() == 1 && last_[0] == 0xB1) {
            const auto frame = PackWordFrame(pending_);
            auto* reply = static_cast<std::uint8_t*>(out);
            reply[0] = 1;
            std::copy(frame.begin(), frame.end(), reply + 1);
            bytesReturned = 13;
        }
        return true;
    }

    // A module answer as the reads that carry it, eight bytes at most each; the reading
    // continues while a read is full, so an answer of a multiple of eight ends with an empty one.
    void Answer(const Bytes& bytes) {
        std::size_t pos = 0;
        do {
            const std::size_t n = std::min<std::size_t>(8, bytes.size() - pos);
            std::uint8_t b[8]{};
            std::copy(bytes.begin() + pos, bytes.begin() + pos + n, b);
            reads.push_back({static_cast<std::uint32_t>(n), std::uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3],
                             std::uint32_t{b[4]} << 24 | b[5] << 16 | b[6] << 8 | b[7]});
            pos += n;
            if (n < 8) break;
        } while (true);
    }

    std::vector<std::uint32_t> WordsWritten() const {
        std::vector<std::uint32_t> words;
        for (const auto& c : commands)
            if (c.w0 == 19) words.push_back(c.w2);
        return words;
    }
    std::size_t Count(std::uint32_t command) const {
        std::size_t n = 0;
        for (const auto& c : commands) n += c.w0 == command;
        return n;
    }

    std::vector<Words> commands;  // every word frame written
    std::deque<Words> reads;      // answers to command 20; an empty script gives count 0
    std::uint32_t slotMask = 0;
    std::vector<std::uint32_t> masksSet;
    int failWriteAt = -1;  // this I2C_WRITE (counted from 0) fails

private:
    void Command(const Words& words) {
        commands.push_back(words);
        pending_ = {};
        if (words.w0 == 20 && !reads.empty()) {
            pending_ = reads.front();
            reads.pop_front();
        } else if (words.w0 == 23) {
            pending_ = {slotMask, 0, 0};
        } else if (words.w0 == 21) {
            masksSet.push_back(words.w1);
        }
    }
    Bytes last_;
    Words pending_;
};

class ModuleChannelTest : public ::testing::Test {
protected:
    ScriptedBridge bridge;
    RecordingPlatform platform{bridge};
    const Context& ctx = platform.context();
    Handle handle = 7;
    std::vector<std::string>& lines = platform.debug.lines;
    std::vector<std::uint32_t>& sleeps = platform.clock.sleeps;
};

const Bytes kAccepted{0xA5, 0x01, 0x00, 0x5A};
const Bytes kRefused{0xA5, 0x01, 0x01, 0x00};
const Bytes kNotStarted{0x00, 0xA5, 0x01, 0x00};

TEST_F(ModuleChannelTest, SendCmdAcknowledgementsAndTheRetransmission) {
    const std::string retransmit = "Retransmit VELKUSB_AMPL_SendCmd - 54";
    const std::string error = "ERROR - VELKUSB_AMPL_SendCmd - 54";
    const struct {
        const char* what;
        std::vector<Bytes> answers;
        std::vector<Words> rawReads;  // used when `answers` is empty
        std::uint32_t wait;
        std::uint32_t expected;
        std::vector<std::string> lines;
        std::vector<std::uint32_t> sleeps;
        std::size_t frames;  // times the command went out
        std::size_t reads;
    } cases[] = {
        {"accepted", {kAccepted}, {}, 50, 0, {}, {50}, 1, 1},
        {"status 1, not retried", {kRefused}, {}, 50, kModuleRefused, {}, {50}, 1, 1},
        {"no 0xA5 twice", {kNotStarted, kNotStarted}, {}, 50, kModuleNotAcknowledged, {retransmit, error},
         {50, 20, 100}, 2, 2},
        {"no 0xA5, then accepted", {kNotStarted, kAccepted}, {}, 50, 0, {retransmit}, {50, 20, 100}, 2, 2},
        {"no 0xA5, then status 1", {kNotStarted, kRefused}, {}, 50, kModuleRefused, {retransmit}, {50, 20, 100}, 2,
         2},
        {"wait 0: the retransmission waits 20 ms", {kNotStarted, kAccepted}, {}, 0, 0, {retransmit}, {20, 20}, 2, 2},
        {"wait 5: the retransmission waits 20 ms", {kNotStarted, kAccepted}, {}, 5, 0, {retransmit}, {5, 20, 20}, 2,
         2},
        {"two valid bytes count as no 0xA5", {{0xA5, 0x01}, {0xA5, 0x01}}, {}, 50, kModuleNotAcknowledged,
         {retransmit, error}, {50, 20, 100}, 2, 2},
        {"nothing to read", {}, {}, 50, kModuleNotAcknowledged, {retransmit, error}, {50, 20, 100}, 2, 2},
        {"count above 8, then accepted", {}, {{9, 0, 0}, {4, 0xA501005A, 0}}, 50, 0, {retransmit}, {50, 20, 100}, 2,
         2},
        {"a full first read is drained", {}, {{8, 0xA5070000, 0x01020304}, {2, 0x05065A00, 0}}, 50, 0, {}, {50}, 1,
         2},
        {"a failing drain is retried", {}, {{8, 0xA5070000, 0x01020304}, {9, 0, 0}, {4, 0xA501005A, 0}}, 50, 0,
         {retransmit}, {50, 20, 100}, 2, 3},
    };
    for (const auto& c : cases) {
        bridge.commands.clear();
        bridge.reads.assign(c.rawReads.begin(), c.rawReads.end());
        for (const auto& answer : c.answers) bridge.Answer(answer);
        lines.clear();
        sleeps.clear();
        EXPECT_EQ(VELKUSB_AMPL_SendCmd(ctx, handle, 3, 0x54, {}, c.wait, false), c.expected) << c.what;
        EXPECT_EQ(lines, c.lines) << c.what;
        EXPECT_EQ(sleeps, c.sleeps) << c.what;
        EXPECT_EQ(bridge.WordsWritten(), std::vector<std::uint32_t>(c.frames, 0xA501545A)) << c.what;
        EXPECT_EQ(bridge.Count(20), c.reads) << c.what;
        for (const auto& command : bridge.commands) EXPECT_EQ(command.w1, 3u) << c.what << ": the slot";
    }
}

TEST_F(ModuleChannelTest, SendCmdWithoutAnswerAndWithAFailingWordWrite) {
    const Bytes block{0x06, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(VELKUSB_AMPL_SendCmd(ctx, handle, 0, 0x50, block, 0, true), 0u);
    EXPECT_THAT(bridge.WordsWritten(), ElementsAre(0xA50B5006, 0x00010203, 0x04050607, 0x085A0000));
    EXPECT_EQ(bridge.Count(20), 0u);
    EXPECT_THAT(sleeps, IsEmpty());

    // The third word's write fails: its code at once, no read, no retransmission, no line.
    bridge.commands.clear();
    bridge.failWriteAt = 2;
    EXPECT_EQ(VELKUSB_AMPL_SendCmd(ctx, handle, 0, 0x50, block, 0, false), kErrorGenFailure);
    EXPECT_EQ(bridge.commands.size(), 3u);
    EXPECT_EQ(bridge.Count(20), 0u);
    EXPECT_THAT(lines, IsEmpty());
}

TEST_F(ModuleChannelTest, SendCmdPayloadOverTheLimitRaisesWithoutEndingTheProcess) {
    EXPECT_THROW(VELKUSB_AMPL_SendCmd(ctx, handle, 0, 0x50, Bytes(29, 0), 0, true), EAssertionFailed);
    EXPECT_THAT(lines, ElementsAre("Assertion failure (VELKUSB_ADC, line 604)"));
    EXPECT_TRUE(bridge.commands.empty());

    lines.clear();
    EXPECT_EQ(VELKUSB_AMPL_SendCmd(ctx, handle, 0, 0x50, Bytes(28, 0), 0, true), 0u);
    EXPECT_EQ(bridge.WordsWritten().size(), 8u);
    // The read command does not check the length.
    bridge.Answer(kAccepted);
    Bytes answer;
    EXPECT_EQ(VELKUSB_AMPL_SendReadCmd(ctx, handle, 0, 0x50, answer, Bytes(40, 0), 0), 0u);
    EXPECT_THAT(lines, IsEmpty());
}

TEST_F(ModuleChannelTest, SendReadCmdAnswersAndTheRetransmission) {
    const struct {
        const char* what;
        std::uint8_t code;
        std::vector<Bytes> answers;
        std::vector<Words> rawReads;
        std::uint32_t expected;
        Bytes answer;
        std::vector<std::string> lines;
        std::vector<std::uint32_t> sleeps;
        std::size_t frames;
    } cases[] = {
        {"one-byte answer", 0xA7, {{0xA5, 0x02, 0x00, 0x07, 0x5A}}, {}, 0, {0x07}, {}, {20}, 1},
        {"cut short, not retried", 0xA7, {{0xA5, 0x02, 0x00, 0x07}}, {}, kModuleNoAnswer, {}, {}, {20}, 1},
        {"status 9, then 0", 0xA7, {{0xA5, 0x02, 0x09, 0x01, 0x5A}, {0xA5, 0x02, 0x00, 0x02, 0x5A}}, {}, 0, {0x02},
         {"Retransmit VELKUSB_AMPL_SendReadCmd - A7"}, {20, 20, 40}, 2},
        {"status 9 twice", 0xA7, {{0xA5, 0x02, 0x09, 0x01, 0x5A}, {0xA5, 0x02, 0x09, 0x03, 0x5A}}, {},
         kModuleStatusBusy, {0x03},
         {"Retransmit VELKUSB_AMPL_SendReadCmd - A7", "ERROR - VELKUSB_AMPL_SendReadCmd - A7"}, {20, 20, 40}, 2},
        {"status 3, not retried", 0xA7, {{0xA5, 0x02, 0x03, 0x07, 0x5A}}, {}, kModuleNoAnswer, {}, {}, {20}, 1},
        {"length byte 0, not retried", 0xA7, {{0xA5, 0x00, 0x00, 0x5A}}, {}, kModuleNoAnswer, {}, {}, {20}, 1},
        {"no 0xA5 twice", 0x50, {{0x00, 0x00, 0x00}, {0x00}}, {}, kModuleNoAnswer, {},
         {"Retransmit VELKUSB_AMPL_SendReadCmd - 50", "ERROR - VELKUSB_AMPL_SendReadCmd - 50"}, {20, 20, 40}, 2},
        {"0xA3 retransmits without announcing it", 0xA3, {{0x00}, {0x00}}, {}, kModuleNoAnswer, {},
         {"ERROR - VELKUSB_AMPL_SendReadCmd - A3"}, {20, 20, 40}, 2},
        {"an answer over two reads", 0xA7,
         {{0x00, 0x00, 0xA5, 0x0A, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x5A}}, {}, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {},
         {20}, 1},
        {"a failed read is retried", 0xA7, {{0xA5, 0x02, 0x00, 0x07, 0x5A}}, {{12, 0, 0}}, 0, {0x07},
         {"Retransmit VELKUSB_AMPL_SendReadCmd - A7"}, {20, 20, 40}, 2},
    };
    for (const auto& c : cases) {
        bridge.commands.clear();
        bridge.reads.assign(c.rawReads.begin(), c.rawReads.end());
        for (const auto& answer : c.answers) bridge.Answer(answer);
        lines.clear();
        sleeps.clear();
        Bytes answer{0xEE};
        EXPECT_EQ(VELKUSB_AMPL_SendReadCmd(ctx, handle, 5, c.code, answer, {}, 20), c.expected) << c.what;
        EXPECT_EQ(answer, c.answer) << c.what;
        EXPECT_EQ(lines, c.lines) << c.what;
        EXPECT_EQ(sleeps, c.sleeps) << c.what;
        EXPECT_EQ(bridge.WordsWritten().size(), c.frames) << c.what;
        EXPECT_TRUE(bridge.reads.empty()) << c.what << ": every scripted read taken";
    }
}

TEST_F(ModuleChannelTest, SendReadCmdGivesUpAfter64FullReadsPerAttempt) {
    bridge.reads.assign(200, Words{8, 0, 0});
    Bytes answer;
    EXPECT_EQ(VELKUSB_AMPL_SendReadCmd(ctx, handle, 0, 0xA7, answer, {}, 0), kModuleNoAnswer);
    EXPECT_EQ(bridge.Count(20), 128u);
    EXPECT_THAT(lines, ElementsAre("Retransmit VELKUSB_AMPL_SendReadCmd - A7", "ERROR - VELKUSB_AMPL_SendReadCmd - A7"));
}

TEST_F(ModuleChannelTest, SendReadCmdWithAFailingWordWriteIsNotRetried) {
    bridge.failWriteAt = 0;
    Bytes answer{1};
    EXPECT_EQ(VELKUSB_AMPL_SendReadCmd(ctx, handle, 0, 0xA7, answer, {}, 0), kErrorGenFailure);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(bridge.commands.size(), 1u);
    EXPECT_THAT(lines, IsEmpty());
}

TEST_F(ModuleChannelTest, EnableModuleSlotsWidensTheMaskOnlyWhenItReadsZeroOrAllOnes) {
    const std::vector<std::uint32_t> eightSlots{0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};
    const struct {
        const char* what;
        std::uint32_t mask;
        int failWriteAt;
        std::vector<std::uint32_t> masks;
    } cases[] = {
        {"0x000000FF", 0xFF, -1, {}},
        {"0x00000001", 0x01, -1, {}},
        {"0", 0, -1, eightSlots},
        {"all ones", 0xFFFFFFFF, -1, eightSlots},
        // A query that fails leaves its word 0: the mask is widened.
        {"query fails", 0xFF, 0, eightSlots},
    };
    for (const auto& c : cases) {
        bridge.commands.clear();
        bridge.masksSet.clear();
        bridge.slotMask = c.mask;
        bridge.failWriteAt = c.failWriteAt;
        sleeps.clear();
        EnableModuleSlots(ctx, handle, 8);
        if (c.failWriteAt != 0) {
            EXPECT_EQ(bridge.commands.at(0), (Words{23, 0xFFFFFFFF, 0xFFFFFFFF})) << c.what;
        }
        EXPECT_EQ(bridge.masksSet, c.masks) << c.what;
        EXPECT_EQ(sleeps, std::vector<std::uint32_t>(c.masks.size(), 200)) << c.what;
        for (const auto& command : bridge.commands)
            if (command.w0 == 21) {
                EXPECT_EQ(command.w2, 0xFFFFFFFFu) << c.what;
            }
    }
}

}  // namespace
}  // namespace rovenza
