// Firmware-mode behaviour: the name query, the IRIG clock's programming mode, the ULMO's CAN
// packets, and packets that an instrument does not answer.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

const sim::Bytes kPrmd = {0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'};

TEST(BenchFirmware, NameQueryAnswersTheNameFromTheFifthByte) {
    sim::InstrumentSpec irig = BenchInstrument(FamilyId::IrigClock, "IC000001");
    irig.name = "IRIG-TEST1";
    RawBench w(BenchOf({irig}));
    const RawResult r = w.raw.exchange(w.raw.open(FirstGenerationPath("0dae", "IC000001")), {0x00, 0x02, 0x00, 0x0D, 0x00}, 64);
    sim::Bytes expected = {0x00, 0x02, 0x00, 0x0D, 'I', 'R', 'I', 'G', '-', 'T', 'E', 'S', 'T', '1'};
    expected.resize(64, 0x00);
    EXPECT_EQ(r.data, expected);
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

sim::Bytes CanFirst(std::uint16_t address, std::uint8_t seed, std::uint8_t h0 = 0x02) {
    sim::Bytes p(64, 0);
    p[0] = 0x0A, p[2] = h0, p[4] = static_cast<std::uint8_t>(address >> 8), p[5] = static_cast<std::uint8_t>(address);
    for (int i = 0; i <= 32; ++i) p[6 + i] = static_cast<std::uint8_t>(seed + i);
    return p;
}

sim::Bytes CanSecond(std::uint8_t seed) {
    sim::Bytes p(64, 0xEE);
    p[0] = 0x0A, p[1] = 0x01;
    for (int i = 33; i <= 63; ++i) p[2 + i - 33] = static_cast<std::uint8_t>(seed + i);
    return p;
}

TEST(BenchUlmo, ABlockIsStoredOnceBothHalvesArriveAndTheClosingCommandIsChecked) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    const auto& can = w.bench.instrument("UL000001").can();
    auto ack = [&](const sim::Bytes& packet) {
        const RawResult r = w.raw.exchange(h, packet, 64);
        EXPECT_EQ(r.returned, 64u);
        return r.data.empty() ? -1 : r.data[0];
    };
    EXPECT_EQ(ack(CanFirst(0x0640, 0x10)), 0x01);
    EXPECT_EQ(can[0x0640], 0xFF);  // not before the second half
    EXPECT_EQ(ack(CanSecond(0x10)), 0x01);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(can[0x0640 + i], static_cast<std::uint8_t>(0x10 + i)) << i;
    EXPECT_EQ(can[0x0680], 0xFF);
    // A second half without its first, or after a first half with a bad header, is not stored.
    EXPECT_EQ(ack(CanSecond(0x20)), 0x00);
    EXPECT_EQ(ack(CanFirst(0x0700, 0x20, 0x03)), 0x01);
    EXPECT_EQ(ack(CanSecond(0x20)), 0x00);
    EXPECT_EQ(can[0x0700], 0xFF);
    EXPECT_EQ(ack({0x0B, 0x00, 0x03, 0x03, 0x0E, 0x00}), 0x01);  // a malformed closing command
    EXPECT_EQ(ack({0x0B, 0x00, 0x03, 0x03, 0x0F, 0x00}), 0x00);
}

TEST(BenchFirmware, PacketsAnInstrumentDoesNotTakeAreNotAnswered) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001"), BenchInstrument(FamilyId::Ulmo, "UL000001"),
                        BenchInstrument(FamilyId::IrigClock, "IC000001"),
                        BenchInstrument(FamilyId::PowerController, "PC000002", true)}));
    sim::Bytes fpgaWrite = {0x00, 0x02, 0x00, 0x52, 0x00, 0x00, 0x00};
    fpgaWrite.resize(39, 0x5A);
    const std::pair<std::string, sim::Bytes> rows[] = {
        {FirstGenerationPath("0db0", "PC000001"), CanFirst(0x0600, 0)},    // another family's command
        {FirstGenerationPath("0db0", "PC000001"), sim::Bytes(64, 0x01)},   // a boot-loader packet
        {FirstGenerationPath("0dad", "UL000001"), kPrmd},
        {FirstGenerationPath("0dae", "IC000001"), fpgaWrite},              // before programming mode
        {FirstGenerationPath("0dac", "PC000002"), {0x10, 0x00, 0x00}},     // GO_BOOTLOADER in the boot loader
    };
    for (const auto& [path, packet] : rows) {
        SCOPED_TRACE(path);
        const Handle h = w.raw.open(path);
        ASSERT_TRUE(w.raw.write(h, packet).ok);
        EXPECT_EQ(w.raw.read(h, 64, 100).error, kErrorTimeout);
    }
    EXPECT_TRUE(w.bench.instrument("IC000001").fpga().empty());
    EXPECT_EQ(w.bench.instrument("PC000002").mode(), sim::PicMode::BootLoader);
    EXPECT_EQ(w.bench.instrument("PC000002").restarts(), 0u);
}

}  // namespace
}  // namespace rovenza
