// The Zenara instrument's I2C bridge and its amplifier modules as a driver client sees them:
// the bridge's reply time on the virtual clock, the slot mask, each module's type answer,
// programming with group checksums, the module command faults and the dump.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/ModuleBridge.h"
#include "support/BenchFixture.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::Bytes;
using sim::FaultAction;
using sim::FaultRule;
using sim::FaultSide;
using sim::FamilyId;

constexpr std::uint32_t kAllSlots = 0xFF;

// A Zenara instrument "ZN1" with `modules` on a bench with the usual USB latency, so that
// every exchange takes 1 ms of bench time.
sim::BenchSpec ZenaraBench(std::array<std::optional<int>, 8> modules, std::uint8_t slotMask = kAllSlots,
                           std::vector<FaultRule> faults = {}, std::uint32_t i2cLatencyUs = sim::kDefaultI2cLatencyUs,
                           std::uint32_t latencyUs = sim::kDefaultLatencyUs) {
    sim::InstrumentSpec zenara = BenchInstrument(FamilyId::Zenara, "ZN1");
    zenara.modules = modules;
    zenara.slotMask = slotMask;
    zenara.faults = std::move(faults);
    zenara.i2cLatencyUs = i2cLatencyUs;
    sim::BenchSpec setup;
    setup.latencyUs = latencyUs;
    setup.instruments = {zenara};
    return setup;
}

FaultRule ModuleRule(const char* request, FaultAction action, std::optional<int> slot = std::nullopt) {
    FaultRule rule;
    rule.request = request;
    rule.action = action;
    rule.slot = slot;
    return rule;
}

Bytes Answer(std::uint8_t status, const Bytes& payload = {}) {
    Bytes frame{0xA5, static_cast<std::uint8_t>(payload.size() + 1), status};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0x5A);
    return frame;
}

// A 10-byte image block: the address, high byte first, and 8 data bytes.
Bytes Block(std::uint16_t address, const Bytes& data) {
    Bytes block{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    block.insert(block.end(), data.begin(), data.end());
    block.resize(10, 0);
    return block;
}

// Data bytes of the block at `address` in these tests.
Bytes BlockData(std::uint16_t address) {
    Bytes data(8);
    for (std::size_t i = 0; i < 8; ++i) data[i] = static_cast<std::uint8_t>(address * 3 + i * 17 + 1);
    return data;
}

struct Zenara {
    explicit Zenara(const sim::BenchSpec& setup) : w(setup), h(w.raw.open2(ZenaraPath("ZN1"))) {}

    // One command and, after the host's wait for it (50 ms for 0x54 and 0x53, 20 ms for a
    // block), its answer; nothing when a word or the answer went unanswered.
    std::optional<Bytes> command(std::uint32_t slot, std::uint8_t code, const Bytes& payload = {}) {
        if (!SendModuleFrame(w.raw, h, slot, code, payload)) return std::nullopt;
        w.sleepMs(code == 0x54 || code == 0x53 ? 50 : code == 0x50 ? 20 : 0);
        return ReadModuleAnswer(w.raw, h, slot);
    }
    // The module's checksum answer after a group of eight blocks from `address`.
    std::optional<Bytes> group(std::uint32_t slot, std::uint16_t address, bool zeros = false) {
        for (std::uint16_t k = 0; k < 7; ++k, address += 8)
            if (!SendModuleFrame(w.raw, h, slot, 0x50, Block(address, zeros ? Bytes{} : BlockData(address))))
                return std::nullopt;
        return command(slot, 0x50, Block(address, zeros ? Bytes{} : BlockData(address)));
    }
    const sim::AmplifierModule& module(int slot) { return *w.bench.secondGen("ZN1").bridge()->modules()[slot]; }

    RawBench w;
    Handle h;
};

std::uint8_t GroupChecksum(std::uint16_t address) {
    std::uint8_t x = 0;
    for (std::uint16_t k = 0; k < 8; ++k)
        for (const std::uint8_t b : BlockData(static_cast<std::uint16_t>(address + 8 * k))) x ^= b;
    return x;
}

TEST(ZenaraBridge, APollIsNotReadyUntilTheBridgeLatencyHasPassedOnTheVirtualClock) {
    struct Row {
        std::uint32_t i2cLatencyUs;
        int pollsUntilReady;  // each exchange takes 1 ms; the first poll comes 1 ms after the write
        std::uint32_t latencyUs = sim::kDefaultLatencyUs;
    };
    // Without USB latency a poll still takes 125 us, so a reply 700 us away is seen at the sixth.
    for (const Row row : {Row{0, 1}, Row{sim::kDefaultI2cLatencyUs, 1}, Row{1000, 1}, Row{1001, 2}, Row{5000, 5},
                          Row{sim::kDefaultI2cLatencyUs, 6, 0}, Row{0, 1, 0}}) {
        SCOPED_TRACE(row.i2cLatencyUs);
        Zenara z(ZenaraBench({1}, 0x05, {}, row.i2cLatencyUs, row.latencyUs));
        ASSERT_TRUE(z.w.raw.exchange2(z.h, I2cWordFrame(23, 0xFFFFFFFF, 0xFFFFFFFF)).ok);
        int polls = 0;
        std::optional<RawWords> words;
        while (!words && polls < 10) {
            const RawResult poll = z.w.raw.exchange2(z.h, {0xB1});
            ASSERT_EQ(poll.data.size(), 13u);
            words = PollWords(poll);
            ++polls;
        }
        EXPECT_EQ(polls, row.pollsUntilReady);
        ASSERT_TRUE(words);
        EXPECT_EQ(*words, (RawWords{0x05, 0, 0}));  // word command 23: the slot mask
        EXPECT_EQ(PollWords(z.w.raw.exchange2(z.h, {0xB1})), words) << "a ready reply stays ready";
    }
}

TEST(ZenaraBridge, FramesItDoesNotAnswerNeverBecomeReady) {
    const std::pair<Bytes, const char*> rows[] = {
        {I2cWordFrame(23, 0, 0, 0x3E), "another I2C address"},
        {Bytes{0xAD, 0x3F, 11, 0, 0, 0, 23, 0, 0, 0, 0, 0, 0, 0, 0}, "another length"},
        {I2cWordFrame(22, 0, 0), "an unknown word command"},
        {I2cWordFrame(19, 2, 0xA501A75A), "a word to an empty slot"},
        {I2cWordFrame(20, 1, 0xFFFFFFFF), "a read of a slot whose mask bit is clear"},
        {I2cWordFrame(19, 8, 0xA501A75A), "a slot above 7"},
    };
    for (const auto& [frame, what] : rows) {
        SCOPED_TRACE(what);
        Zenara z(ZenaraBench({1, 2}, 0x05));
        ASSERT_TRUE(z.w.raw.exchange2(z.h, I2cWordFrame(23, 0, 0)).ok);
        ASSERT_TRUE(PollWords(z.w.raw.exchange2(z.h, {0xB1})));
        ASSERT_TRUE(z.w.raw.exchange2(z.h, frame).ok);  // the request itself succeeds
        for (int i = 0; i < 20; ++i) EXPECT_FALSE(PollWords(z.w.raw.exchange2(z.h, {0xB1})));
    }
}

TEST(ZenaraBridge, TheSlotMaskIsReadAndSetAndGatesEachSlot) {
    Zenara z(ZenaraBench({1, 2, 3}, 0x00));
    EXPECT_EQ(I2cQuery(z.w.raw, z.h, 23, 0xFFFFFFFF, 0xFFFFFFFF), (RawWords{0, 0, 0}));
    EXPECT_FALSE(z.command(0, 0xA7));
    for (const std::uint32_t mask : {0x01u, 0x03u, 0x07u, 0x1FFu}) {
        SCOPED_TRACE(mask);
        ASSERT_TRUE(I2cQuery(z.w.raw, z.h, 21, mask, 0xFFFFFFFF));
        EXPECT_EQ(I2cQuery(z.w.raw, z.h, 23, 0xFFFFFFFF, 0xFFFFFFFF), (RawWords{mask & 0xFF, 0, 0}));
        for (std::uint32_t slot = 0; slot < 3; ++slot)
            EXPECT_EQ(z.command(slot, 0xA7).has_value(), (mask >> slot & 1) != 0) << "slot " << slot;
    }
}

TEST(ZenaraModule, EachPopulatedSlotAnswersItsTypeCodeAndAnEmptyOneNothing) {
    Zenara z(ZenaraBench({1, std::nullopt, 7, 0, 4, 255, 6, std::nullopt}));
    const std::optional<int> expected[] = {1, std::nullopt, 7, 0, 4, 255, 6, std::nullopt};
    for (std::uint32_t slot = 0; slot < 8; ++slot) {
        SCOPED_TRACE(slot);
        const auto answer = z.command(slot, 0xA7);
        if (expected[slot])
            EXPECT_EQ(answer, Answer(0, {static_cast<std::uint8_t>(*expected[slot])}));
        else
            EXPECT_FALSE(answer);
    }
}

TEST(ZenaraModule, ItsFlashCoversTheImageFromTheBootAreaToTheClosingGroup) {
    Zenara z(ZenaraBench({1, 4, 7, 0}));
    const std::pair<int, std::size_t> rows[] = {{0, 0x600 + 0x4000 + 64}, {1, 0x600 + 0x8000 + 64},
                                                {2, 0x600 + 0x8000 + 64}, {3, 0x600 + 0x8000 + 64}};
    for (const auto& [slot, size] : rows) {
        const Bytes& flash = z.module(slot).flash();
        ASSERT_EQ(flash.size(), size) << slot;
        EXPECT_EQ(flash[0x1234], sim::AmplifierModule::OldModuleByte(0x1234));
    }
}

TEST(ZenaraModule, ProgrammingStoresTheBlocksAndAnswersEachGroupsChecksum) {
    Zenara z(ZenaraBench({1, 2}));
    EXPECT_EQ(z.command(0, 0x50, Block(0x600, BlockData(0x600))), Answer(1)) << "refused outside programming mode";
    EXPECT_EQ(z.module(0).flash()[0x600], sim::AmplifierModule::OldModuleByte(0x600));

    EXPECT_EQ(z.command(0, 0x54), Answer(0));
    EXPECT_TRUE(z.module(0).programming());
    EXPECT_FALSE(z.module(1).programming());
    EXPECT_EQ(z.command(0, 0x50, Block(0x5F8, BlockData(0x5F8))), Answer(1)) << "the boot area is not written";
    EXPECT_EQ(z.command(0, 0x50, Bytes(9, 0)), Answer(1)) << "a block is 10 bytes";
    EXPECT_EQ(z.command(0, 0x50, Block(0x600, BlockData(0x600))), Answer(0)) << "blocks 1 to 7: status only";

    for (const std::uint16_t group : {0x600, 0x640, 0x4600}) {
        SCOPED_TRACE(group);
        EXPECT_EQ(z.group(0, group), Answer(0, {GroupChecksum(group)}));
        for (std::uint16_t a = group; a < group + 64; a += 8) {
            const Bytes data = BlockData(a);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), z.module(0).flash().begin() + a)) << a;
        }
    }
    // A retransmitted eighth block replaces its first copy: the checksum stays the group's.
    EXPECT_EQ(z.command(0, 0x50, Block(0x4638, BlockData(0x4638))), Answer(0, {GroupChecksum(0x4600)}));
    EXPECT_EQ(z.group(0, 0x680, true), Answer(0, {0x00})) << "the closing group of zeros";
    EXPECT_EQ(z.module(0).flash()[0x680], 0x00);
    EXPECT_EQ(z.module(0).blocksStored(), 1u + 3 * 8 + 1 + 8);

    EXPECT_EQ(z.command(0, 0x53), Answer(0));
    EXPECT_FALSE(z.module(0).programming());
    EXPECT_EQ(z.command(0, 0x42), Answer(1)) << "an unknown command";
}

TEST(ZenaraModule, AnAnswerIsReadyOnlyOnceTheModulesWorkIsDone) {
    struct Row {
        std::uint8_t code;
        std::uint32_t blocksBefore;  // blocks of the group sent before this command
        std::uint32_t workMs;
        Bytes answer;
    };
    const Row rows[] = {
        {0x54, 0, sim::kModuleModeWorkMs, Answer(0)},
        {0x53, 0, sim::kModuleModeWorkMs, Answer(0)},
        {0x50, 7, sim::kModuleGroupWorkMs, Answer(0, {GroupChecksum(0x600)})},
        {0x50, 0, 0, Answer(0)},
        {0xA7, 0, 0, Answer(0, {2})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        Zenara z(ZenaraBench({2}));
        if (row.code == 0x50) {
            ASSERT_EQ(z.command(0, 0x54), Answer(0));
        }
        for (std::uint16_t k = 0; k < row.blocksBefore; ++k)
            ASSERT_TRUE(SendModuleFrame(z.w.raw, z.h, 0, 0x50, Block(0x600 + 8 * k, BlockData(0x600 + 8 * k))));
        const std::uint16_t address = static_cast<std::uint16_t>(0x600 + 8 * row.blocksBefore);
        ASSERT_TRUE(SendModuleFrame(z.w.raw, z.h, 0, row.code, row.code == 0x50 ? Block(address, BlockData(address)) : Bytes{}));
        const std::int64_t sentUs = z.w.nowUs();
        if (row.workMs > 0) {
            EXPECT_EQ(ReadModuleAnswer(z.w.raw, z.h, 0), Bytes{}) << "still working";
            z.w.sleepMs(row.workMs - static_cast<std::uint32_t>((z.w.nowUs() - sentUs) / 1000));
        }
        EXPECT_EQ(ReadModuleAnswer(z.w.raw, z.h, 0), row.answer);
    }
}

TEST(ZenaraModule, AFrameWithoutItsEndMarkIsDroppedAndTheNextOneUnderstood) {
    Zenara z(ZenaraBench({3}));
    ASSERT_TRUE(I2cQuery(z.w.raw, z.h, 19, 0, 0xA501A700));  // 00 where the end mark belongs
    EXPECT_EQ(ReadModuleAnswer(z.w.raw, z.h, 0), Bytes{});
    EXPECT_EQ(z.command(0, 0xA7), Answer(0, {3}));
    // Zero bytes between frames are skipped; a frame may span words.
    for (const std::uint32_t word : {0x00000000u, 0x0000A502u, 0x50FF5A00u}) ASSERT_TRUE(I2cQuery(z.w.raw, z.h, 19, 0, word));
    EXPECT_EQ(ReadModuleAnswer(z.w.raw, z.h, 0), Answer(1)) << "a 0x50 block outside programming mode";
}

TEST(ZenaraFaults, EachActionShapesTheModulesAnswer) {
    struct Row {
        FaultRule rule;
        std::uint8_t code;
        Bytes payload;
        std::optional<Bytes> answer;  // nothing: the bridge did not answer, or reported above 8
        bool programming;             // after the command
    };
    FaultRule status9 = ModuleRule("0x54", FaultAction::Fail);
    status9.code = 9;
    FaultRule cut = ModuleRule("0xA7", FaultAction::Short);
    cut.length = 2;
    FaultRule silentBridge = ModuleRule("0xA7", FaultAction::Timeout);
    silentBridge.on = FaultSide::Read;
    FaultRule overCount = ModuleRule("0xA7", FaultAction::Corrupt);
    overCount.on = FaultSide::Read;
    const Row rows[] = {
        {ModuleRule("0x54", FaultAction::Fail), 0x54, {}, Answer(31), false},
        {status9, 0x54, {}, Answer(9), false},
        {ModuleRule("0xA7", FaultAction::Fail), 0xA7, {}, Answer(31, {4}), false},
        {ModuleRule("0xA7", FaultAction::Corrupt), 0xA7, {}, Bytes{0x00, 0x02, 0x00, 0x04, 0x5A}, false},
        {ModuleRule("0x54", FaultAction::Short), 0x54, {}, Bytes{0xA5, 0x01, 0x00}, true},
        {cut, 0xA7, {}, Bytes{0xA5, 0x02}, false},
        {ModuleRule("0x54", FaultAction::Timeout), 0x54, {}, Bytes{}, true},
        {silentBridge, 0xA7, {}, std::nullopt, false},
        {overCount, 0xA7, {}, std::nullopt, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.rule.request) + " " + std::string(sim::ActionName(row.rule.action)));
        Zenara z(ZenaraBench({4}, kAllSlots, {row.rule}));
        EXPECT_EQ(z.command(0, row.code, row.payload), row.answer);
        EXPECT_EQ(z.module(0).programming(), row.programming);
        // The rule strikes every time its command comes; the type query is struck only by its own.
        EXPECT_EQ(z.command(0, 0xA7), row.code == 0xA7 ? row.answer : Answer(0, {4}));
    }
}

TEST(ZenaraFaults, ACorruptReadReportsACountAboveEight) {
    FaultRule overCount = ModuleRule("0xA7", FaultAction::Corrupt);
    overCount.on = FaultSide::Read;
    overCount.occurrence = 1;
    Zenara z(ZenaraBench({4}, kAllSlots, {overCount}));
    ASSERT_TRUE(SendModuleFrame(z.w.raw, z.h, 0, 0xA7));
    const auto words = I2cQuery(z.w.raw, z.h, 20, 0, 0xFFFFFFFF);
    ASSERT_TRUE(words);
    EXPECT_EQ(*words, (RawWords{9, 0xA5020004, 0x5A000000})) << "the answer's bytes, under a count above 8";
    EXPECT_EQ(ReadModuleAnswer(z.w.raw, z.h, 0), Bytes{}) << "and they were taken";
    EXPECT_EQ(z.command(0, 0xA7), Answer(0, {4})) << "the rule's one occurrence is over";
}

TEST(ZenaraFaults, BadChecksumSpoilsTheGroupChecksumOnlyWhereItStrikes) {
    FaultRule eighth = ModuleRule("0x50", FaultAction::BadChecksum);
    eighth.occurrence = 16;  // the second group's eighth block
    Zenara z(ZenaraBench({1}, kAllSlots, {eighth}));
    ASSERT_EQ(z.command(0, 0x54), Answer(0));
    EXPECT_EQ(z.group(0, 0x600), Answer(0, {GroupChecksum(0x600)}));
    EXPECT_EQ(z.group(0, 0x640), Answer(0, {static_cast<std::uint8_t>(GroupChecksum(0x640) ^ 0xFF)}));
    EXPECT_EQ(z.group(0, 0x680), Answer(0, {GroupChecksum(0x680)}));
    EXPECT_EQ(z.module(0).flash()[0x678], BlockData(0x678)[0]) << "the block itself is stored";
}

TEST(ZenaraFaults, ASlotRuleStrikesThatSlotAndCountsItsOccurrencesThere) {
    struct Row {
        std::optional<int> slot;
        std::optional<std::uint32_t> occurrence;
        std::array<int, 4> struck;  // queries (slot 1, slot 2, slot 2, slot 1) struck
    };
    const Row rows[] = {
        {2, std::nullopt, {0, 1, 1, 0}},
        {2, 2, {0, 0, 1, 0}},
        {1, 2, {0, 0, 0, 1}},
        {std::nullopt, 2, {0, 1, 0, 0}},
        {std::nullopt, std::nullopt, {1, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        FaultRule rule = ModuleRule("0xA7", FaultAction::Fail, row.slot);
        rule.occurrence = row.occurrence;
        Zenara z(ZenaraBench({5, 6}, kAllSlots, {rule}));
        const std::uint32_t slots[] = {0, 1, 1, 0};
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const std::uint8_t type = slots[i] == 0 ? 5 : 6;
            EXPECT_EQ(z.command(slots[i], 0xA7), Answer(row.struck[i] ? 31 : 0, {type}));
        }
        // The I2C_WRITE that completed a struck frame carries the action in its record.
        const auto writes = z.w.bench.select("write2", "I2C_WRITE");
        EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](const auto& r) { return r.fault == "fail"; }),
                  std::count(row.struck.begin(), row.struck.end(), 1));
    }
}

TEST(ZenaraDump, EachPopulatedSlotsFlashAndItsStateAreWritten) {
    Zenara z(ZenaraBench({1, std::nullopt, 7}, 0x05));
    ASSERT_EQ(z.command(2, 0x54), Answer(0));
    ASSERT_EQ(z.group(2, 0x8600), Answer(0, {GroupChecksum(0x8600)}));
    TempDir dir;
    z.w.bench.dump(dir.path());
    const auto folder = dir.path() / "ZN1";
    for (int slot = 0; slot < 8; ++slot) {
        const auto file = folder / ("module" + std::to_string(slot + 1) + ".bin");
        EXPECT_EQ(std::filesystem::exists(file), slot == 0 || slot == 2) << file;
    }
    const Bytes third = FileBytes(folder / "module3.bin");
    EXPECT_EQ(third, z.module(2).flash());
    ASSERT_EQ(third.size(), 0x8640u);
    EXPECT_EQ(Bytes(third.begin() + 0x8600, third.begin() + 0x8608), BlockData(0x8600));
    EXPECT_EQ(FileBytes(folder / "module1.bin").size(), 0x4640u);

    const auto state = FileLines(folder / "state.txt");
    for (const char* line : {"slotMask=5", "module1=1", "module1Programming=0", "module1Blocks=0", "module2=",
                             "module3=7", "module3Programming=1", "module3Blocks=8"})
        EXPECT_NE(std::find(state.begin(), state.end(), line), state.end()) << line;
    EXPECT_EQ(std::find(state.begin(), state.end(), "module2Programming=0"), state.end());
}

TEST(ZenaraBridge, AVelkaroInstrumentHasNoBridge) {
    sim::InstrumentSpec velkaro = BenchInstrument(FamilyId::Velkaro, "TV1");
    RawBench w(BenchOf({velkaro}));
    const Handle h = w.raw.open2(VelkaroPath("TV1"));
    ASSERT_TRUE(w.raw.exchange2(h, I2cWordFrame(23, 0, 0)).ok);
    EXPECT_EQ(w.raw.exchange2(h, {0xB1}).data, Bytes{0x00});
    EXPECT_FALSE(w.bench.secondGen("TV1").bridge());
}

}  // namespace
}  // namespace rovenza
