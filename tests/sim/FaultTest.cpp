// Fault rules: which occurrence they strike, which request (write or read) fails, and what each
// action does to the instrument and its replies.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultRule;
using sim::FaultSide;
using sim::FamilyId;

constexpr std::uint8_t kRead = 1, kWrite = 2, kErase = 3;

class Faults : public ::testing::Test {
protected:
    Faults()
        : w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true),
                     BenchInstrument(FamilyId::IrigClock, "IC000001", true)})) {
        h = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    }
    sim::PicInstrument& pic() { return w.bench.instrument("PC000001"); }
    bool listed() {
        std::vector<DeviceInterfaceEntry> out;
        w.bench.interfaces().enumerate(kFirstGenerationClass, out);
        return std::any_of(out.begin(), out.end(), [](const auto& e) { return e.path.find("PC000001") != std::string::npos; });
    }

    RawBench w;
    Handle h;
};

TEST_F(Faults, AnOccurrenceCountsThatCommandOnThatInstrumentOnly) {
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 3, .action = FaultAction::Fail});
    const Handle other = w.raw.open(FirstGenerationPath("0dac", "IC000001"));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(w.raw.exchange(other, BootPacket(kRead, 32, 0x800), 37).ok);
    EXPECT_TRUE(w.raw.exchange(h, BootPacket(kWrite, 32, 0x800), 37).ok);  // another command
    std::vector<std::uint32_t> results;
    for (int i = 0; i < 4; ++i) results.push_back(w.raw.write(h, BootPacket(kRead, 32, 0x800)).error);
    EXPECT_EQ(results, (std::vector<std::uint32_t>{0, 0, kErrorGenFailure, 0}));
    EXPECT_EQ(w.bench.select("write", "READ_FLASH")[6].fault, "fail");
    EXPECT_EQ(pic().faults().occurrences("READ_FLASH"), 4u);
}

TEST_F(Faults, WithoutAnOccurrenceARuleStrikesEveryTime) {
    w.bench.addFault("PC000001", {.request = "ERASE_FLASH", .action = FaultAction::Fail, .code = 0});
    for (int i = 0; i < 3; ++i) {
        const RawResult r = w.raw.write(h, BootPacket(kErase, 32, 0x800));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, 0u);  // a failure whose system code is 0
    }
}

// Each of the boot loader's memory commands can fail on its write request (the instrument
// never sees it) or on its read request (it took effect; the reply is lost).
TEST_F(Faults, FailAndTimeoutStrikeTheWriteOrTheRead) {
    struct Row {
        std::uint8_t cmd;
        const char* name;
        FaultAction action;
        FaultSide on;
        std::uint32_t writeError;
        std::uint32_t readError;
        std::int64_t waitedMs;  // by the failing request
    };
    const Row rows[] = {
        {kErase, "ERASE_FLASH", FaultAction::Fail, FaultSide::Write, 1234, kErrorTimeout, 0},
        {kErase, "ERASE_FLASH", FaultAction::Fail, FaultSide::Read, 0, 1234, 0},
        {kWrite, "WRITE_FLASH", FaultAction::Fail, FaultSide::Write, 1234, kErrorTimeout, 0},
        {kWrite, "WRITE_FLASH", FaultAction::Fail, FaultSide::Read, 0, 1234, 0},
        {kRead, "READ_FLASH", FaultAction::Fail, FaultSide::Write, 1234, kErrorTimeout, 0},
        {kRead, "READ_FLASH", FaultAction::Fail, FaultSide::Read, 0, 1234, 0},
        {kWrite, "WRITE_FLASH", FaultAction::Timeout, FaultSide::Write, kErrorTimeout, kErrorTimeout, 700},
        {kWrite, "WRITE_FLASH", FaultAction::Timeout, FaultSide::Read, 0, kErrorTimeout, 300},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.on == FaultSide::Read ? " on read " : " on write ") +
                     std::string(sim::ActionName(row.action)));
        RawBench local(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)}));
        local.bench.addFault("PC000001", {.request = row.name, .occurrence = 1, .action = row.action, .code = 1234, .on = row.on});
        const Handle lh = local.raw.open(FirstGenerationPath("0dac", "PC000001"));
        const sim::Bytes before = local.bench.instrument("PC000001").program();

        const std::int64_t t0 = local.nowUs();
        const RawResult written = local.raw.write(lh, BootPacket(row.cmd, 32, 0x0840, sim::Bytes(32, 0x00)), 700);
        EXPECT_EQ(written.error, row.writeError);
        const std::int64_t t1 = local.nowUs();
        const RawResult read = local.raw.read(lh, 37, 300);
        EXPECT_EQ(read.error, row.readError);
        EXPECT_EQ((row.writeError ? t1 - t0 : local.nowUs() - t1), row.waitedMs * 1000);

        const bool tookEffect = row.writeError == 0;
        const bool changesMemory = row.cmd != kRead;
        EXPECT_EQ(local.bench.instrument("PC000001").program() != before, tookEffect && changesMemory);
        // The next occurrence goes through.
        EXPECT_TRUE(local.raw.exchange(lh, BootPacket(row.cmd, 32, 0x0840), 37).ok);
    }
}

TEST_F(Faults, CorruptReadFlashFlipsAReplyByteButNotTheMemory) {
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 2, .action = FaultAction::Corrupt});
    const sim::Bytes good = w.raw.exchange(h, BootPacket(kRead, 32, 0x0900), 37).data;
    const sim::Bytes bad = w.raw.exchange(h, BootPacket(kRead, 32, 0x0900), 37).data;
    const sim::Bytes again = w.raw.exchange(h, BootPacket(kRead, 32, 0x0900), 37).data;
    ASSERT_EQ(bad.size(), 37u);
    EXPECT_NE(bad, good);
    EXPECT_EQ(std::mismatch(good.begin(), good.end(), bad.begin()).first - good.begin(), 5);
    EXPECT_EQ(again, good);
    EXPECT_EQ(w.bench.last("read", "READ_FLASH")->fault, "");
}

TEST_F(Faults, CorruptWriteFlashClearsABitThatARepeatCannotRestore) {
    w.bench.addFault("PC000001", {.request = "WRITE_FLASH", .occurrence = 1, .action = FaultAction::Corrupt});
    sim::Bytes row(32);
    for (int i = 0; i < 32; ++i) row[i] = static_cast<std::uint8_t>(0x80 | i);
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kErase, 32, 0x0A00), 1).ok);
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kWrite, 32, 0x0A00, row), 37).ok);
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kWrite, 32, 0x0A00, row), 37).ok);  // the repeat
    const sim::Bytes back = w.raw.exchange(h, BootPacket(kRead, 32, 0x0A00), 37).data;
    EXPECT_NE(sim::Bytes(back.begin() + 5, back.end()), row);
    EXPECT_EQ(pic().program()[0x0A00], 0x00);  // 0x80 lost its lowest set bit
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kErase, 32, 0x0A00), 1).ok);
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kWrite, 32, 0x0A00, row), 37).ok);
    EXPECT_EQ(sim::Bytes(pic().program().begin() + 0x0A00, pic().program().begin() + 0x0A20), row);
}

TEST_F(Faults, ShortCutsTheReplyToTheGivenLengthOrHalf) {
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 1, .action = FaultAction::Short, .length = 20});
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 2, .action = FaultAction::Short});
    w.bench.addFault("PC000001", {.request = "ERASE_FLASH", .occurrence = 1, .action = FaultAction::Short});
    EXPECT_EQ(w.raw.exchange(h, BootPacket(kRead, 32, 0x800), 37).returned, 20u);
    EXPECT_EQ(w.raw.exchange(h, BootPacket(kRead, 32, 0x800), 37).returned, 18u);
    EXPECT_EQ(w.raw.exchange(h, BootPacket(kRead, 32, 0x800), 37).returned, 37u);
    const RawResult erase = w.raw.exchange(h, BootPacket(kErase, 32, 0x800), 1);
    EXPECT_TRUE(erase.ok);
    EXPECT_EQ(erase.returned, 0u);
}

TEST_F(Faults, VanishTakesTheInstrumentAwayUntilTheBenchIsToldOtherwise) {
    w.bench.addFault("PC000001", {.request = "WRITE_FLASH", .occurrence = 1, .action = FaultAction::Vanish, .on = FaultSide::Read});
    ASSERT_TRUE(w.raw.write(h, BootPacket(kWrite, 1, 0x0800, {0x00})).ok);
    EXPECT_EQ(w.raw.read(h, 37).error, kErrorDeviceNotConnected);
    EXPECT_EQ(pic().program()[0x0800], 0x00);  // it acted before it went
    EXPECT_FALSE(listed());
    w.sleepMs(600'000);
    EXPECT_FALSE(listed());
    w.bench.setPresent("PC000001", true);
    EXPECT_TRUE(listed());
    EXPECT_EQ(w.raw.exchange(h, BootPacket(kRead, 32, 0x800), 37).error, kErrorDeviceNotConnected);
    EXPECT_NE(w.raw.open(FirstGenerationPath("0dac", "PC000001")), kInvalidHandle);
}

TEST_F(Faults, NeverKeepsTheInstrumentAwayAfterItsNextRestart) {
    w.bench.addFault("PC000001", {.request = "BOOT_RESET", .action = FaultAction::Never});
    ASSERT_TRUE(w.raw.write(h, BootPacket(0xFF, 1, 0x00FF)).ok);
    w.sleepMs(60'000);
    EXPECT_FALSE(listed());
    EXPECT_TRUE(pic().neverReturns());
    w.bench.setPresent("PC000001", true);
    EXPECT_NE(w.raw.open(FirstGenerationPath("0db0", "PC000001")), kInvalidHandle);
}

TEST_F(Faults, AReappearRuleStrikesOneRestart) {
    w.bench.addFault("PC000001", {.request = "reappear", .occurrence = 2, .action = FaultAction::Vanish});
    ASSERT_TRUE(w.raw.write(h, BootPacket(0xFF, 1, 0x00FF)).ok);
    w.sleepMs(3000);
    ASSERT_TRUE(listed());
    const Handle fw = w.raw.open(FirstGenerationPath("0db0", "PC000001"));
    ASSERT_TRUE(w.raw.write(fw, {0x10, 0x00, 0x00}).ok);
    w.sleepMs(60'000);
    EXPECT_FALSE(listed());
    EXPECT_EQ(pic().restarts(), 2u);
}

TEST(BenchOpenFaults, OpenRulesFailOrRemoveTheInstrument) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001")}));
    w.bench.addFault("PC000001", {.request = "open", .occurrence = 1, .action = FaultAction::Fail, .code = 5});
    w.bench.addFault("PC000001", {.request = "open", .occurrence = 3, .action = FaultAction::Vanish});
    const std::string path = FirstGenerationPath("0db0", "PC000001");
    std::uint32_t error = 0;
    EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(w.bench.last("open")->fault, "fail");
    EXPECT_NE(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(error, kErrorFileNotFound);
    std::vector<DeviceInterfaceEntry> listed;
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    EXPECT_TRUE(listed.empty());
}

TEST_F(Faults, CorruptAcknowledgementsAndFpgaStore) {
    RawBench fw(BenchOf({BenchInstrument(FamilyId::Ulmo, "UL000001"), BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    fw.bench.addFault("UL000001", {.request = "CAN_SECOND", .occurrence = 1, .action = FaultAction::Corrupt});
    fw.bench.addFault("UL000001", {.request = "CAN_FINISH", .occurrence = 1, .action = FaultAction::Corrupt});
    fw.bench.addFault("IC000001", {.request = "FPGA_WRITE", .occurrence = 1, .action = FaultAction::Corrupt});
    fw.bench.addFault("IC000001", {.request = "FPGA_READ", .occurrence = 2, .action = FaultAction::Corrupt});

    const Handle ulmo = fw.raw.open(FirstGenerationPath("0dad", "UL000001"));
    sim::Bytes first(64, 0), second(64, 0x22);
    first[0] = 0x0A, first[2] = 0x02, first[4] = 0x06;
    second[0] = 0x0A, second[1] = 0x01;
    EXPECT_EQ(fw.raw.exchange(ulmo, first, 64).data[0], 0x01);
    EXPECT_EQ(fw.raw.exchange(ulmo, second, 64).data[0], 0x00);  // wrong acknowledgement ...
    EXPECT_EQ(fw.bench.instrument("UL000001").can()[0x0600 + 40], 0x22);  // ... though stored
    EXPECT_EQ(fw.raw.exchange(ulmo, {0x0B, 0x00, 0x03, 0x03, 0x0F, 0x00}, 64).data[0], 0x01);

    const Handle irig = fw.raw.open(FirstGenerationPath("0dae", "IC000001"));
    ASSERT_TRUE(fw.raw.exchange(irig, {0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'}, 64, 15000).ok);
    sim::Bytes block = {0x00, 0x02, 0x00, 0x52, 0, 0, 0};
    block.resize(39, 0x5A);
    const RawResult echoed = fw.raw.exchange(irig, block, 64);
    EXPECT_EQ(echoed.data[5], 0x5A);  // the echo is right, the store is not
    const sim::Bytes readBlock = {0x00, 0x02, 0x00, 0x53, 0, 0, 0};
    EXPECT_EQ(fw.raw.exchange(irig, readBlock, 37).data[5], 0x5A ^ 0x01);
    block[7] = 0x5A;
    ASSERT_TRUE(fw.raw.exchange(irig, block, 64).ok);
    EXPECT_EQ(fw.raw.exchange(irig, readBlock, 37).data[5], 0x5A ^ 0x01);  // read corrupted this time
    EXPECT_EQ(fw.raw.exchange(irig, readBlock, 37).data[5], 0x5A);
}

}  // namespace
}  // namespace rovenza
