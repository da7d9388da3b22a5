// The PIC boot loader as the driver client sees it: flash that behaves like flash, the
// write-protected boot block, EEPROM, the restart into firmware, and the driver's reply rules.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;
using sim::PicInstrument;

constexpr std::uint8_t kRead = 1, kWrite = 2, kErase = 3, kEedata = 5, kReset = 0xFF;

class BootLoader : public ::testing::Test {
protected:
    BootLoader() : w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)})) {
        h = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    }
    PicInstrument& pic() { return w.bench.instrument("PC000001"); }
    sim::Bytes readRow(std::uint16_t address) {
        const RawResult r = w.raw.exchange(h, BootPacket(kRead, 32, address), 37);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.data.size(), 37u);
        return r.data.size() == 37 ? sim::Bytes(r.data.begin() + 5, r.data.end()) : sim::Bytes{};
    }
    RawResult send(std::uint8_t cmd, std::uint8_t len, std::uint16_t address, const sim::Bytes& data, std::uint32_t limit) {
        return w.raw.exchange(h, BootPacket(cmd, len, address, data), limit);
    }

    RawBench w;
    Handle h;
};

TEST_F(BootLoader, ReadFlashEchoesTheHeaderAndReturnsTheRow) {
    const RawResult r = w.raw.exchange(h, BootPacket(kRead, 32, 0x0120), 37);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.returned, 37u);
    EXPECT_EQ(sim::Bytes(r.data.begin(), r.data.begin() + 5), (sim::Bytes{kRead, 32, 0x20, 0x01, 0x00}));
    for (std::uint32_t i = 0; i < 32; ++i) EXPECT_EQ(r.data[5 + i], PicInstrument::BootBlockByte(0x120 + i)) << i;
    EXPECT_EQ(readRow(0x0800)[0], PicInstrument::OldFirmwareByte(0x0800));
    EXPECT_EQ(readRow(0x7FE0), sim::Bytes(32, 0xFF));
}

TEST_F(BootLoader, EraseClearsTheWhole64ByteBlockAndNothingElse) {
    const RawResult r = send(kErase, 32, 0x0840, {}, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.data, sim::Bytes{0x03});
    EXPECT_EQ(readRow(0x0840), sim::Bytes(32, 0xFF));
    EXPECT_EQ(readRow(0x0860), sim::Bytes(32, 0xFF));
    EXPECT_EQ(pic().program()[0x083F], PicInstrument::OldFirmwareByte(0x083F));
    EXPECT_EQ(pic().program()[0x0880], PicInstrument::OldFirmwareByte(0x0880));
    // An address inside the block erases the block it falls in.
    ASSERT_TRUE(send(kErase, 32, 0x08A0, {}, 1).ok);
    EXPECT_EQ(readRow(0x0880), sim::Bytes(32, 0xFF));
}

TEST_F(BootLoader, WriteCanOnlyClearBits) {
    ASSERT_TRUE(send(kErase, 32, 0x1000, {}, 1).ok);
    const RawResult first = send(kWrite, 2, 0x1000, {0xF0, 0x3C}, 37);
    ASSERT_TRUE(first.ok);
    ASSERT_EQ(first.returned, 37u);  // the header, then the 32 bytes of flash as written
    EXPECT_EQ(sim::Bytes(first.data.begin(), first.data.begin() + 7), (sim::Bytes{kWrite, 2, 0x00, 0x10, 0x00, 0xF0, 0x3C}));
    EXPECT_EQ(first.data[7], 0xFF);
    ASSERT_TRUE(send(kWrite, 2, 0x1000, {0x0F, 0xFF}, 37).ok);
    EXPECT_EQ(pic().program()[0x1000], 0x00);
    EXPECT_EQ(pic().program()[0x1001], 0x3C);
    EXPECT_EQ(pic().program()[0x1002], 0xFF);  // beyond Len: untouched
    // Writing over old firmware without an erase ANDs into it.
    ASSERT_TRUE(send(kWrite, 1, 0x2000, {0xFF}, 37).ok);
    EXPECT_EQ(pic().program()[0x2000], PicInstrument::OldFirmwareByte(0x2000));
}

TEST_F(BootLoader, TheBootBlockIsWriteProtected) {
    const sim::Bytes before = pic().program();
    EXPECT_TRUE(send(kErase, 32, 0x0000, {}, 1).ok);
    EXPECT_TRUE(send(kErase, 32, 0x07C0, {}, 1).ok);
    EXPECT_TRUE(send(kWrite, 32, 0x07E0, sim::Bytes(32, 0x00), 37).ok);
    EXPECT_EQ(pic().program(), before);
    EXPECT_EQ(pic().protectedWrites(), 3u);
    // A write straddling the boundary keeps the protected part and writes the rest.
    ASSERT_TRUE(send(kWrite, 4, 0x07FE, {0, 0, 0, 0}, 37).ok);
    EXPECT_EQ(pic().program()[0x07FF], PicInstrument::BootBlockByte(0x07FF));
    EXPECT_EQ(pic().program()[0x0800], 0x00);
}

TEST_F(BootLoader, WriteEedataStoresIntoTheEeprom) {
    EXPECT_EQ(pic().eeprom(), sim::Bytes(256, 0x00));
    const RawResult r = send(kEedata, 1, 0x00FF, {0xFF}, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.data, sim::Bytes{0x05});
    EXPECT_EQ(pic().eeprom()[0xFF], 0xFF);
    ASSERT_TRUE(send(kEedata, 3, 0x00FE, {0x11, 0x22, 0x33}, 1).ok);  // past the end: dropped
    EXPECT_EQ(pic().eeprom()[0xFE], 0x11);
    EXPECT_EQ(pic().eeprom()[0xFF], 0x22);
}

TEST_F(BootLoader, ReplyIsCutToTheBufferAndCollectedOnce) {
    ASSERT_TRUE(w.raw.write(h, BootPacket(kRead, 32, 0x0800)).ok);
    const RawResult cut = w.raw.read(h, 4);
    ASSERT_TRUE(cut.ok);
    EXPECT_EQ(cut.returned, 4u);
    EXPECT_EQ(w.bench.last("read")->received.size(), 4u);
    EXPECT_EQ(w.bench.last("read")->command, "READ_FLASH");

    const std::int64_t before = w.nowUs();
    const RawResult again = w.raw.read(h, 37, 250);
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, kErrorTimeout);
    EXPECT_EQ(w.nowUs() - before, 250'000);
    EXPECT_EQ(w.bench.last("read")->durationUs, 250'000);

    ASSERT_TRUE(w.raw.write(h, BootPacket(kRead, 32, 0x0800)).ok);
    const RawResult empty = w.raw.read(h, 0);  // a zero-size buffer takes nothing, consumes the reply
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.returned, 0u);
}

TEST_F(BootLoader, WrongInputRecordsFailWithInvalidParameter) {
    const sim::Bytes packet = BootPacket(kRead, 32, 0x0800);
    struct Row {
        const char* what;
        std::uint32_t code;
        sim::Bytes input;
        sim::Bytes buffer;
    };
    const Row rows[] = {
        {"write with 5-byte input", kIoctlWrite, {0, 0, 0, 0, 0}, packet},
        {"write on pipe 1", kIoctlWrite, RawHeader(1, 1000), packet},
        {"read with 4-byte input", kIoctlRead, {1, 0, 0, 0}, sim::Bytes(37)},
        {"read on pipe 0", kIoctlRead, RawHeader(0, 1000), sim::Bytes(37)},
        {"reset with 8-byte input", kIoctlReset, RawHeader(0, 0), {}},
        {"reset of pipe 2", kIoctlReset, {2, 0, 0, 0}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const RawResult r = w.raw.request(h, row.code, row.input, row.buffer);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, sim::kErrorInvalidParameter);
    }
    EXPECT_EQ(w.bench.count("write", "READ_FLASH"), 0u);  // refused by the driver
    EXPECT_EQ(w.raw.read(h, 37, 0).error, kErrorTimeout);  // nothing reached the instrument
}

TEST_F(BootLoader, BootResetRestartsIntoFirmwareAfterTheDelay) {
    const std::int64_t t0 = w.nowUs();
    ASSERT_TRUE(w.raw.write(h, BootPacket(kReset, 1, 0x00FF)).ok);
    EXPECT_EQ(w.raw.read(h, 0, 10).error, kErrorDeviceNotConnected);
    EXPECT_EQ(w.nowUs(), t0);  // gone at once, no wait
    EXPECT_EQ(w.bench.last("read")->command, "BOOT_RESET");

    std::vector<DeviceInterfaceEntry> listed;
    w.sleepMs(sim::kDefaultBootResetMs - 1);
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    EXPECT_TRUE(listed.empty());
    w.sleepMs(1);
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, FirstGenerationPath("0db0", "PC000001"));
    EXPECT_EQ(pic().mode(), sim::PicMode::Firmware);
    EXPECT_EQ(pic().restarts(), 1u);
}

TEST_F(BootLoader, TheEnterBootLoaderCommandIsIgnoredThere) {
    ASSERT_TRUE(w.raw.write(h, {0x10, 0x00, 0x00}).ok);
    EXPECT_EQ(w.bench.last("write")->command, "GO_BOOTLOADER");
    EXPECT_EQ(w.raw.read(h, 64, 10).error, kErrorTimeout);
    EXPECT_TRUE(w.raw.reset(h, 0).ok);
    EXPECT_EQ(pic().mode(), sim::PicMode::BootLoader);
    EXPECT_EQ(pic().restarts(), 0u);
}

TEST(BenchLatency, EveryWriteReadAndResetWaitsTheLatency) {
    sim::BenchSpec setup = BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)});
    setup.latencyUs = 250;
    RawBench w(setup);
    const Handle h = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    const std::int64_t t0 = w.nowUs();
    ASSERT_TRUE(w.raw.exchange(h, BootPacket(kRead, 32, 0x0800), 37).ok);
    ASSERT_TRUE(w.raw.reset(h, 0).ok);
    EXPECT_EQ(w.nowUs() - t0, 750);
    EXPECT_EQ(w.bench.last("read")->timeUs, t0 + 250);
}

}  // namespace
}  // namespace rovenza
