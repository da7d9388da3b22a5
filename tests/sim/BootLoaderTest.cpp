// The PIC boot loader as the driver client sees it: flash that behaves like flash, the
// write-protected boot block, EEPROM, and the driver's rules for requests and replies.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;
using sim::PicInstrument;

constexpr std::uint8_t kRead = 1, kWrite = 2, kErase = 3, kEedata = 5;

class BootLoader : public ::testing::Test {
protected:
    RawResult send(std::uint8_t cmd, std::uint8_t len, std::uint16_t address, const sim::Bytes& data = {},
                   std::uint32_t limit = 37) {
        return w.raw.exchange(h, BootPacket(cmd, len, address, data), limit);
    }
    PicInstrument& pic() { return w.bench.instrument("PC000001"); }
    sim::Bytes flash(std::size_t address, std::size_t count = 32) {
        return sim::Bytes(pic().program().begin() + address, pic().program().begin() + address + count);
    }

    RawBench w{BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true), BenchInstrument(FamilyId::Velkaro, "TV000001")})};
    Handle h = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
};

TEST_F(BootLoader, EraseSetsTheWhole64ByteBlockHoldingTheAddress) {
    const RawResult r = send(kErase, 32, 0x08A0, {}, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.data, sim::Bytes{kErase});
    EXPECT_EQ(flash(0x0880, 64), sim::Bytes(64, 0xFF));
    EXPECT_EQ(pic().program()[0x087F], PicInstrument::OldFirmwareByte(0x087F));
    EXPECT_EQ(pic().program()[0x08C0], PicInstrument::OldFirmwareByte(0x08C0));
}

TEST_F(BootLoader, WriteOnlyClearsBitsAndRepliesWithTheFlashAsItStands) {
    ASSERT_TRUE(send(kErase, 32, 0x1000, {}, 1).ok);
    const RawResult first = send(kWrite, 2, 0x1000, {0xF0, 0x3C});
    ASSERT_EQ(first.returned, 37u);
    EXPECT_EQ(sim::Bytes(first.data.begin(), first.data.begin() + 8), (sim::Bytes{kWrite, 2, 0x00, 0x10, 0x00, 0xF0, 0x3C, 0xFF}));
    ASSERT_TRUE(send(kWrite, 2, 0x1000, {0x0F, 0xFF}).ok);
    EXPECT_EQ(flash(0x1000, 3), (sim::Bytes{0x00, 0x3C, 0xFF}));  // beyond Len: untouched
    // Without an erase a write ANDs into the old firmware.
    ASSERT_TRUE(send(kWrite, 1, 0x2000, {0xF0}).ok);
    EXPECT_EQ(pic().program()[0x2000], PicInstrument::OldFirmwareByte(0x2000) & 0xF0);
}

TEST_F(BootLoader, TheBootBlockIsWriteProtectedAndTheEepromEndsAt256) {
    const sim::Bytes before = pic().program();
    EXPECT_TRUE(send(kErase, 32, 0x0000, {}, 1).ok);
    EXPECT_TRUE(send(kErase, 32, 0x07C0, {}, 1).ok);
    EXPECT_TRUE(send(kWrite, 32, 0x07E0, sim::Bytes(32, 0x00)).ok);
    EXPECT_EQ(pic().program(), before);
    EXPECT_EQ(pic().protectedWrites(), 3u);
    // A write straddling the boundary keeps the protected part and writes the rest.
    ASSERT_TRUE(send(kWrite, 4, 0x07FE, {0, 0, 0, 0}).ok);
    EXPECT_EQ(pic().program()[0x07FF], PicInstrument::BootBlockByte(0x07FF));
    EXPECT_EQ(pic().program()[0x0800], 0x00);
    // EEPROM bytes past its end are dropped.
    EXPECT_EQ(send(kEedata, 3, 0x00FE, {0x11, 0x22, 0x33}, 1).data, sim::Bytes{kEedata});
    EXPECT_EQ(pic().eeprom()[0xFE], 0x11);
    EXPECT_EQ(pic().eeprom()[0xFF], 0x22);
}

TEST_F(BootLoader, AReplyIsCutToTheBufferAndCollectedOnce) {
    ASSERT_TRUE(w.raw.write(h, BootPacket(kRead, 32, 0x0800)).ok);
    const RawResult cut = w.raw.read(h, 4);
    ASSERT_TRUE(cut.ok);
    EXPECT_EQ(cut.returned, 4u);
    EXPECT_EQ(w.bench.last("read")->received.size(), 4u);
    // Nothing pending: the read waits its parameter and fails with 1460.
    const std::int64_t before = w.nowUs();
    EXPECT_EQ(w.raw.read(h, 37, 250).error, kErrorTimeout);
    EXPECT_EQ(w.nowUs() - before, 250'000);
    // A zero-size buffer takes nothing but consumes the reply.
    ASSERT_TRUE(w.raw.write(h, BootPacket(kRead, 32, 0x0800)).ok);
    EXPECT_EQ(w.raw.read(h, 0).returned, 0u);
    EXPECT_EQ(w.raw.read(h, 37, 0).error, kErrorTimeout);
}

TEST_F(BootLoader, TheDriverRefusesMalformedOrMisdirectedRequests) {
    const std::uint32_t both = kFileShareWrite | sim::kFileShareRead;
    const Handle velkaro = w.raw.open("\\\\?\\usb#vid_1234&pid_0e10#TV000001#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}",
                                      nullptr, kGenericRead | kGenericWrite, both);
    const Handle velkaroWriteOnly = w.raw.open(w.bench.last("open2")->path, nullptr, kGenericWrite, both);
    const sim::Bytes packet = BootPacket(kRead, 32, 0x0800);
    struct Row {
        const char* what;
        Handle handle;
        std::uint32_t code;
        sim::Bytes input;
        sim::Bytes buffer;
        std::uint32_t error;
    };
    const Row rows[] = {
        {"write with 5-byte input", h, kIoctlWrite, {0, 0, 0, 0, 0}, packet, sim::kErrorInvalidParameter},
        {"write on pipe 1", h, kIoctlWrite, RawHeader(1, 1000), packet, sim::kErrorInvalidParameter},
        {"read with 4-byte input", h, kIoctlRead, {1, 0, 0, 0}, sim::Bytes(37), sim::kErrorInvalidParameter},
        {"read on pipe 0", h, kIoctlRead, RawHeader(0, 1000), sim::Bytes(37), sim::kErrorInvalidParameter},
        {"reset with 8-byte input", h, kIoctlReset, RawHeader(0, 0), {}, sim::kErrorInvalidParameter},
        {"reset of pipe 2", h, kIoctlReset, {2, 0, 0, 0}, {}, sim::kErrorInvalidParameter},
        {"second-generation read", h, kIoctlRead2, RawHeader(1, 1000), sim::Bytes(64), sim::kErrorInvalidFunction},
        {"unknown control code", h, 0x222000, {}, {}, sim::kErrorInvalidFunction},
        {"first-generation write", velkaro, kIoctlWrite, RawHeader(0, 1000), packet, sim::kErrorInvalidFunction},
        {"second-generation write with the 4-byte input", velkaro, kIoctlWrite2, {0, 0, 0, 0}, {0xA1}, sim::kErrorInvalidParameter},
        {"reset on the second generation", velkaro, kIoctlReset, {0, 0, 0, 0}, {}, sim::kErrorInvalidFunction},
        {"write2 without read access", velkaroWriteOnly, kIoctlWrite2, RawHeader(0, 1000), {0xA1}, sim::kErrorAccessDenied},
        {"unknown handle", 0x7777, kIoctlWrite, RawHeader(0, 1000), packet, kErrorInvalidHandle},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const RawResult r = w.raw.request(row.handle, row.code, row.input, row.buffer);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, row.error);
        EXPECT_EQ(w.bench.requests().back().result, row.error);
    }
    EXPECT_EQ(w.bench.last("ioctl")->controlCode, 0x222000u);
    EXPECT_EQ(w.bench.count("write", "READ_FLASH"), 0u);  // nothing reached the instrument
    EXPECT_EQ(w.raw.read(h, 37, 0).error, kErrorTimeout);
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
