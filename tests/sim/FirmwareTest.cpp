// Firmware-mode behaviour: the switch into the boot loader, the name query, the IRIG clock's
// programming mode and FPGA store, the ULMO's CAN packets.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

bool Listed(RawBench& w, const std::string& path) {
    std::vector<DeviceInterfaceEntry> listed;
    w.bench.interfaces().enumerate(kFirstGenerationClass, listed);
    for (const auto& entry : listed)
        if (entry.path == path) return true;
    return false;
}

TEST(BenchFirmware, EnterBootLoaderDropsOffTheBusAndReturnsAfterRestartMs) {
    sim::InstrumentSpec ulmo = BenchInstrument(FamilyId::Ulmo, "UL000001");
    ulmo.restartMs = 4000;
    RawBench w(BenchOf({ulmo}));
    const Handle h = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    const std::int64_t t0 = w.nowUs();
    ASSERT_TRUE(w.raw.write(h, {0x10, 0x00, 0x00}).ok);
    const RawResult read = w.raw.read(h, 64, 10);
    EXPECT_EQ(read.error, kErrorDeviceNotConnected);
    EXPECT_EQ(w.nowUs(), t0);
    EXPECT_EQ(w.bench.last("read")->command, "GO_BOOTLOADER");
    w.raw.close(h);

    w.sleepMs(3999);
    EXPECT_FALSE(Listed(w, FirstGenerationPath("0dac", "UL000001")));
    w.sleepMs(1);
    EXPECT_TRUE(Listed(w, FirstGenerationPath("0dac", "UL000001")));
    EXPECT_FALSE(Listed(w, FirstGenerationPath("0dad", "UL000001")));
    EXPECT_EQ(w.bench.instrument("UL000001").mode(), sim::PicMode::BootLoader);
}

TEST(BenchFirmware, NameQueryAnswersTheFamilysNameFromTheFifthCharacter) {
    sim::InstrumentSpec named = BenchInstrument(FamilyId::IrigClock, "IC000002");
    named.name = "IRIG-TEST1";
    RawBench w(BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001"), BenchInstrument(FamilyId::Ulmo, "UL000001"), named}));
    struct Row {
        const char* pid;
        const char* serial;
        std::string name;
    };
    for (const Row& row : {Row{"0dae", "IC000001", "IRIG-CLOCK"}, Row{"0dad", "UL000001", "ULMO"},
                           Row{"0dae", "IC000002", "IRIG-TEST1"}}) {
        SCOPED_TRACE(row.serial);
        const Handle h = w.raw.open(FirstGenerationPath(row.pid, row.serial));
        const RawResult r = w.raw.exchange(h, {0x00, 0x02, 0x00, 0x0D, 0x00}, 64);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.data.size(), 64u);
        EXPECT_EQ(std::string(r.data.begin() + 4, r.data.begin() + 4 + static_cast<long>(row.name.size())), row.name);
        EXPECT_TRUE(std::all_of(r.data.begin() + 4 + static_cast<long>(row.name.size()), r.data.end(),
                                [](std::uint8_t b) { return b == 0; }));
        EXPECT_EQ(w.bench.last("write")->command, "QUERY_NAME");
    }
}

const sim::Bytes kPrmd = {0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'};

sim::Bytes FpgaWrite(std::uint32_t address, std::uint8_t seed) {
    sim::Bytes p = {0x00, 0x02, 0x00, 0x52, static_cast<std::uint8_t>(address >> 16),
                    static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    for (int i = 0; i < 32; ++i) p.push_back(static_cast<std::uint8_t>(seed + i));
    return p;
}

sim::Bytes FpgaRead(std::uint32_t address) {
    return {0x00, 0x02, 0x00, 0x53, static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address)};
}

TEST(BenchIrig, ProgrammingModeAnswersOnlyWhenReadyWithinTheReadParameter) {
    struct Row {
        std::uint32_t prmdMs;
        std::uint32_t parameter;
        bool answers;
        std::int64_t waitedMs;
    };
    for (const Row& row : {Row{1200, 15000, true, 1200}, Row{15000, 15000, true, 15000}, Row{15001, 15000, false, 15000},
                           Row{20000, 1000, false, 1000}, Row{0, 1000, true, 0}}) {
        SCOPED_TRACE(row.prmdMs);
        sim::InstrumentSpec irig = BenchInstrument(FamilyId::IrigClock, "IC000001");
        irig.prmdMs = row.prmdMs;
        RawBench w(BenchOf({irig}));
        const Handle h = w.raw.open(FirstGenerationPath("0dae", "IC000001"));
        ASSERT_TRUE(w.raw.write(h, kPrmd).ok);
        const std::int64_t t0 = w.nowUs();
        const RawResult r = w.raw.read(h, 64, row.parameter);
        EXPECT_EQ(r.ok, row.answers);
        EXPECT_EQ(w.nowUs() - t0, row.waitedMs * 1000);
        if (row.answers) {
            EXPECT_EQ(r.data, (sim::Bytes{0x00, 0x02, 0x00, 0x50, 'O', 'K'}));
        } else {
            EXPECT_EQ(r.error, kErrorTimeout);
        }
        EXPECT_EQ(w.bench.instrument("IC000001").programmingMode(w.nowUs()), row.answers);
    }
}

TEST(BenchIrig, FpgaBlocksAreStoredAtTheirAddressAndReadBack) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0dae", "IC000001"));
    // Before programming mode the block commands are not answered.
    EXPECT_EQ(w.raw.exchange(h, FpgaWrite(0, 1), 64).error, kErrorTimeout);
    EXPECT_TRUE(w.bench.instrument("IC000001").fpga().empty());

    ASSERT_TRUE(w.raw.exchange(h, kPrmd, 64, 15000).ok);
    const RawResult cmd2 = w.raw.exchange(h, {0x00, 0x02, 0x00, 0x51, 0x00}, 64);
    ASSERT_TRUE(cmd2.ok);
    EXPECT_EQ(w.bench.last("read")->command, "FPGA_CMD2");

    const RawResult written = w.raw.exchange(h, FpgaWrite(0x000020, 0x40), 64);
    ASSERT_TRUE(written.ok);
    ASSERT_EQ(written.returned, 37u);
    EXPECT_EQ(sim::Bytes(written.data.begin(), written.data.begin() + 5), (sim::Bytes{0x00, 0x02, 0x00, 0x52, 0x00}));
    const RawResult back = w.raw.exchange(h, FpgaRead(0x000020), written.returned);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(sim::Bytes(back.data.begin(), back.data.begin() + 4), (sim::Bytes{0x00, 0x02, 0x00, 0x53}));
    const sim::Bytes sent = FpgaWrite(0x20, 0x40);
    EXPECT_EQ(sim::Bytes(back.data.begin() + 5, back.data.end()), sim::Bytes(sent.begin() + 7, sent.end()));

    const auto& fpga = w.bench.instrument("IC000001").fpga();
    ASSERT_EQ(fpga.size(), 64u);  // up to the highest byte written
    EXPECT_EQ(fpga[0], 0xFF);
    EXPECT_EQ(fpga[0x20], 0x40);
    // The address is 24 bits, most significant byte first; unwritten bytes read as 0xFF.
    ASSERT_TRUE(w.raw.exchange(h, FpgaWrite(0x010203, 0x00), 64).ok);
    EXPECT_EQ(fpga.size(), 0x010203u + 32);
    EXPECT_EQ(fpga[0x010203 + 5], 0x05);
    const RawResult blank = w.raw.exchange(h, FpgaRead(0x100000), 37);
    EXPECT_EQ(sim::Bytes(blank.data.begin() + 5, blank.data.end()), sim::Bytes(32, 0xFF));
}

TEST(BenchIrig, TheFinalResetRestartsTheFirmwareOutOfProgrammingMode) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0dae", "IC000001"));
    ASSERT_TRUE(w.raw.exchange(h, kPrmd, 64, 15000).ok);
    sim::Bytes reset(64, 0);
    reset[0] = 0xFF;
    reset[1] = 1;
    ASSERT_TRUE(w.raw.writeOnly(h, reset).ok);
    EXPECT_EQ(w.bench.last("write")->command, "BOOT_RESET");
    EXPECT_EQ(w.bench.last("write")->input.size(), 4u);
    EXPECT_EQ(w.raw.exchange(h, FpgaRead(0), 37).error, kErrorDeviceNotConnected);
    w.sleepMs(sim::kDefaultFpgaResetMs);
    const Handle again = w.raw.open(FirstGenerationPath("0dae", "IC000001"));
    ASSERT_NE(again, kInvalidHandle);
    EXPECT_FALSE(w.bench.instrument("IC000001").programmingMode(w.nowUs()));
    EXPECT_EQ(w.raw.exchange(again, FpgaRead(0), 37).error, kErrorTimeout);
}

sim::Bytes CanFirst(std::uint16_t address, std::uint8_t seed, std::uint8_t h0 = 0x02) {
    sim::Bytes p(64, 0);
    p[0] = 0x0A;
    p[2] = h0;
    p[4] = static_cast<std::uint8_t>(address >> 8);
    p[5] = static_cast<std::uint8_t>(address);
    for (int i = 0; i <= 32; ++i) p[6 + i] = static_cast<std::uint8_t>(seed + i);
    return p;
}

sim::Bytes CanSecond(std::uint8_t seed) {
    sim::Bytes p(64, 0xEE);
    p[0] = 0x0A;
    p[1] = 0x01;
    for (int i = 33; i <= 63; ++i) p[2 + i - 33] = static_cast<std::uint8_t>(seed + i);
    return p;
}

TEST(BenchUlmo, BlocksAreStoredOnceBothHalvesArriveAndAcknowledged) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    const auto& can = w.bench.instrument("UL000001").can();
    ASSERT_EQ(can, sim::Bytes(0x10000, 0xFF));

    const RawResult first = w.raw.exchange(h, CanFirst(0x0640, 0x10), 64);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.returned, 64u);
    EXPECT_EQ(first.data[0], 0x01);
    EXPECT_EQ(can[0x0640], 0xFF);  // not before the second half
    const RawResult second = w.raw.exchange(h, CanSecond(0x10), 64);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.data[0], 0x01);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(can[0x0640 + i], static_cast<std::uint8_t>(0x10 + i)) << i;
    EXPECT_EQ(can[0x0680], 0xFF);

    // A second half without its first, or after a first half with a bad header, is not stored.
    EXPECT_EQ(w.raw.exchange(h, CanSecond(0x20), 64).data[0], 0x00);
    EXPECT_EQ(w.raw.exchange(h, CanFirst(0x0700, 0x20, 0x03), 64).data[0], 0x01);
    EXPECT_EQ(w.raw.exchange(h, CanSecond(0x20), 64).data[0], 0x00);
    EXPECT_EQ(can[0x0700], 0xFF);
    // The last block ends exactly at the top of the flash.
    w.raw.exchange(h, CanFirst(0xFFC0, 0x30), 64);
    EXPECT_EQ(w.raw.exchange(h, CanSecond(0x30), 64).data[0], 0x01);
    EXPECT_EQ(can[0xFFFF], static_cast<std::uint8_t>(0x30 + 63));
    EXPECT_EQ(w.bench.instrument("UL000001").canBlocksStored(), 2u);
}

TEST(BenchUlmo, TheClosingCommandIsAcknowledgedWithZero) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    const RawResult done = w.raw.exchange(h, {0x0B, 0x00, 0x03, 0x03, 0x0F, 0x00}, 64);
    ASSERT_TRUE(done.ok);
    EXPECT_EQ(done.returned, 64u);
    EXPECT_EQ(done.data[0], 0x00);
    EXPECT_EQ(w.bench.last("read")->command, "CAN_FINISH");
    EXPECT_EQ(w.raw.exchange(h, {0x0B, 0x00, 0x03, 0x03, 0x0E, 0x00}, 64).data[0], 0x01);
    EXPECT_EQ(w.bench.instrument("UL000001").canFinishes(), 1u);
}

TEST(BenchFirmware, CommandsOfAnotherFamilyAreNotAnswered) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001"), BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const Handle pc = w.raw.open(FirstGenerationPath("0db0", "PC000001"));
    const Handle ulmo = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    EXPECT_EQ(w.raw.exchange(pc, CanFirst(0x0600, 0), 64).error, kErrorTimeout);
    EXPECT_EQ(w.raw.exchange(ulmo, kPrmd, 64, 100).error, kErrorTimeout);
    EXPECT_EQ(w.raw.exchange(pc, sim::Bytes(64, 0x01), 37).error, kErrorTimeout);  // a boot-loader packet
    EXPECT_EQ(w.bench.count("write", "-"), 3u);
}

}  // namespace
}  // namespace rovenza
