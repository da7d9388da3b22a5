// Fault rules: which occurrence they strike, which request (write or read) fails, and what each
// action does to the instrument and its replies.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FaultAction;
using sim::FaultSide;
using sim::FamilyId;

constexpr std::uint8_t kRead = 1, kWrite = 2, kErase = 3;

class Faults : public ::testing::Test {
protected:
    sim::PicInstrument& pic() { return w.bench.instrument("PC000001"); }
    RawResult send(std::uint8_t cmd, std::uint16_t address, const sim::Bytes& data = {}, std::uint32_t limit = 37) {
        return w.raw.exchange(h, BootPacket(cmd, 32, address, data), limit);
    }
    bool listed() {
        std::vector<DeviceInterfaceEntry> out;
        w.bench.interfaces().enumerate(kFirstGenerationClass, out);
        return std::any_of(out.begin(), out.end(), [](const auto& e) { return e.path.find("PC000001") != std::string::npos; });
    }

    RawBench w{BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true),
                        BenchInstrument(FamilyId::IrigClock, "IC000001", true)})};
    Handle h = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
};

TEST_F(Faults, AnOccurrenceCountsThatCommandOnThatInstrumentOnly) {
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 3, .action = FaultAction::Fail});
    w.bench.addFault("PC000001", {.request = "ERASE_FLASH", .action = FaultAction::Fail, .code = 0});  // every time
    const Handle other = w.raw.open(FirstGenerationPath("0dac", "IC000001"));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(w.raw.exchange(other, BootPacket(kRead, 32, 0x800), 37).ok);
    EXPECT_TRUE(send(kWrite, 0x800).ok);  // another command
    std::vector<std::uint32_t> results;
    for (int i = 0; i < 4; ++i) results.push_back(w.raw.write(h, BootPacket(kRead, 32, 0x800)).error);
    EXPECT_EQ(results, (std::vector<std::uint32_t>{0, 0, kErrorGenFailure, 0}));
    EXPECT_EQ(w.bench.select("write", "READ_FLASH")[6].fault, "fail");
    EXPECT_EQ(pic().faults().occurrences("READ_FLASH"), 4u);
    const RawResult erase = w.raw.write(h, BootPacket(kErase, 32, 0x800));
    EXPECT_FALSE(erase.ok);
    EXPECT_EQ(erase.error, 0u);  // a failure whose system code is 0
    EXPECT_FALSE(w.raw.write(h, BootPacket(kErase, 32, 0x800)).ok);
}

// A rule on the write request: the instrument never sees the command. On the read: the command
// took effect and only its reply is lost. A vanished instrument stays away until told otherwise.
TEST(BenchFaults, EachActionStrikesTheWriteOrTheReadOrTheReply) {
    struct Row {
        std::uint8_t cmd;  // ERASE_FLASH, WRITE_FLASH or READ_FLASH of the row at 0x0840
        FaultAction action;
        FaultSide on;
        std::uint32_t writeError;
        std::uint32_t readError;
        std::int64_t waitedMs;  // by the failing request
        std::uint32_t returned;  // by the read, when it succeeds
        bool tookEffect;
    };
    const Row rows[] = {
        {kErase, FaultAction::Fail, FaultSide::Write, 1234, kErrorTimeout, 0, 0, false},
        {kErase, FaultAction::Fail, FaultSide::Read, 0, 1234, 0, 0, true},
        {kWrite, FaultAction::Fail, FaultSide::Write, 1234, kErrorTimeout, 0, 0, false},
        {kWrite, FaultAction::Fail, FaultSide::Read, 0, 1234, 0, 0, true},
        {kWrite, FaultAction::Timeout, FaultSide::Write, kErrorTimeout, kErrorTimeout, 700, 0, false},
        {kWrite, FaultAction::Timeout, FaultSide::Read, 0, kErrorTimeout, 300, 0, true},
        {kWrite, FaultAction::Vanish, FaultSide::Write, kErrorDeviceNotConnected, kErrorDeviceNotConnected, 0, 0, false},
        {kWrite, FaultAction::Vanish, FaultSide::Read, 0, kErrorDeviceNotConnected, 0, 0, true},
        {kRead, FaultAction::Short, FaultSide::Write, 0, 0, 0, 18, false},  // half the reply
    };
    const char* names[] = {"", "READ_FLASH", "WRITE_FLASH", "ERASE_FLASH"};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << names[row.cmd] << " " << sim::ActionName(row.action) << " on "
                                        << (row.on == FaultSide::Read ? "read" : "write"));
        RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)}));
        w.bench.addFault("PC000001", {.request = names[row.cmd], .occurrence = 1, .action = row.action, .code = 1234, .on = row.on});
        const std::string path = FirstGenerationPath("0dac", "PC000001");
        Handle h = w.raw.open(path);
        const sim::Bytes before = w.bench.instrument("PC000001").program();

        const std::int64_t t0 = w.nowUs();
        EXPECT_EQ(w.raw.write(h, BootPacket(row.cmd, 32, 0x0840, sim::Bytes(32, 0x00)), 700).error, row.writeError);
        const std::int64_t t1 = w.nowUs();
        const RawResult read = w.raw.read(h, 37, 300);
        EXPECT_EQ(read.error, row.readError);
        EXPECT_EQ(read.returned, row.returned);
        EXPECT_EQ((row.writeError ? t1 - t0 : w.nowUs() - t1), row.waitedMs * 1000);
        EXPECT_EQ(w.bench.instrument("PC000001").program() != before, row.tookEffect);

        w.sleepMs(600'000);
        std::vector<DeviceInterfaceEntry> listed;
        w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
        EXPECT_EQ(listed.empty(), row.action == FaultAction::Vanish);
        w.bench.setPresent("PC000001", true);
        if (row.action == FaultAction::Vanish) {
            EXPECT_EQ(w.raw.reset(h).error, kErrorDeviceNotConnected);
            h = w.raw.open(path);
        }
        EXPECT_TRUE(w.raw.exchange(h, BootPacket(row.cmd, 32, 0x0840), 37).ok);  // the next one goes through
    }
}

// (WRITE_FLASH, FPGA_WRITE: the memory keeps a wrong byte; the upgrade tests show that.)
TEST_F(Faults, CorruptChangesOneReplyByteButNotTheMemoryAndShortCutsTheReply) {
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 2, .action = FaultAction::Corrupt});
    w.bench.addFault("PC000001", {.request = "READ_FLASH", .occurrence = 4, .action = FaultAction::Short, .length = 20});
    const sim::Bytes good = send(kRead, 0x0900).data;
    const sim::Bytes bad = send(kRead, 0x0900).data;
    ASSERT_EQ(bad.size(), 37u);
    EXPECT_NE(bad[5], good[5]);  // the first data byte
    EXPECT_TRUE(std::equal(good.begin() + 6, good.end(), bad.begin() + 6));
    EXPECT_EQ(send(kRead, 0x0900).data, good);
    EXPECT_EQ(send(kRead, 0x0900).returned, 20u);  // a short reply of a given length
}

// "reappear" counts restarts; "never" strikes the restart after its command.
TEST_F(Faults, ReappearAndNeverKeepTheInstrumentAwayAfterARestart) {
    w.bench.addFault("PC000001", {.request = "reappear", .occurrence = 2, .action = FaultAction::Vanish});
    w.bench.addFault("PC000001", {.request = "BOOT_RESET", .occurrence = 2, .action = FaultAction::Never});
    ASSERT_TRUE(w.raw.write(h, BootPacket(0xFF, 1, 0x00FF)).ok);
    w.sleepMs(3000);
    ASSERT_TRUE(listed());
    ASSERT_TRUE(w.raw.write(w.raw.open(FirstGenerationPath("0db0", "PC000001")), {0x10, 0x00, 0x00}).ok);
    w.sleepMs(60'000);
    EXPECT_FALSE(listed());
    EXPECT_EQ(pic().restarts(), 2u);

    w.bench.setPresent("PC000001", true);
    ASSERT_TRUE(w.raw.write(w.raw.open(FirstGenerationPath("0dac", "PC000001")), BootPacket(0xFF, 1, 0x00FF)).ok);
    w.sleepMs(60'000);
    EXPECT_FALSE(listed());
    EXPECT_TRUE(pic().neverReturns());
    w.bench.setPresent("PC000001", true);
    EXPECT_NE(w.raw.open(FirstGenerationPath("0db0", "PC000001")), kInvalidHandle);
}

TEST(BenchFaults, OpenRulesFailOrRemoveAndEnumerateRulesFailTheDetailQuery) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001"), BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    w.bench.addFault("PC000001", {.request = "open", .occurrence = 1, .action = FaultAction::Fail, .code = 5});
    w.bench.addFault("PC000001", {.request = "open", .occurrence = 3, .action = FaultAction::Vanish});
    w.bench.addFault("IC000001", {.request = "enumerate", .occurrence = 1, .action = FaultAction::Fail, .code = 13});
    const std::string path = FirstGenerationPath("0db0", "PC000001");
    std::uint32_t error = 0;
    EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(w.bench.last("open")->fault, "fail");
    EXPECT_NE(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
    EXPECT_EQ(error, kErrorFileNotFound);
    // The power controller is gone; the IRIG clock is listed first without a path, then with it.
    std::vector<DeviceInterfaceEntry> listed;
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].path, "");
    EXPECT_EQ(listed[0].detailError, 13u);
    EXPECT_EQ(listed[1].path, FirstGenerationPath("0dae", "IC000001"));
}

}  // namespace
}  // namespace rovenza
