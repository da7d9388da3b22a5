// The bench as a driver client sees it on the bus: listing, paths, opening, handles, and
// instruments that leave the bus to restart.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

std::vector<DeviceInterfaceEntry> List(RawBench& w, const InterfaceClassGuid& cls = kFirstGenerationClass) {
    std::vector<DeviceInterfaceEntry> out;
    EXPECT_TRUE(w.bench.interfaces().enumerate(cls, out));
    return out;
}

const std::string kVelkaroPath = "\\\\?\\usb#vid_1234&pid_0e10#TV000001#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";

TEST(BenchEnumeration, ListedUnderTheGenerationsClassAndTheModesPidAndOpenedByPathOrFixedPath) {
    struct Row {
        FamilyId family;
        bool bootLoader;
        const char* serial;
        std::string path;
        const char* name;
    };
    const Row first[] = {
        {FamilyId::PowerController, false, "PC000001", FirstGenerationPath("0db0", "PC000001"), "VK101 Power Controller"},
        {FamilyId::IrigClock, false, "IC000001", FirstGenerationPath("0dae", "IC000001"), "IRIG Clock"},
        {FamilyId::Ulmo, false, "UL000001", FirstGenerationPath("0dad", "UL000001"), "ULMO"},
        {FamilyId::IrigClock, true, "IC000002", FirstGenerationPath("0dac", "IC000002"), "USB Boot Loader"},
    };
    sim::BenchSpec setup = BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001")});
    for (const auto& row : first) setup.instruments.push_back(BenchInstrument(row.family, row.serial, row.bootLoader));
    setup.instruments.push_back(BenchInstrument(FamilyId::Zenara, "ZN000001"));
    RawBench w(setup);

    std::vector<DeviceInterfaceEntry> listed{{"kept", "earlier entry", 0}};
    ASSERT_TRUE(w.bench.interfaces().enumerate(kFirstGenerationClass, listed));
    ASSERT_EQ(listed.size(), std::size(first) + 1);
    EXPECT_EQ(listed[0].path, "kept");
    for (std::size_t i = 0; i < std::size(first); ++i) {
        SCOPED_TRACE(first[i].serial);
        EXPECT_EQ(listed[i + 1].path, first[i].path);
        EXPECT_EQ(listed[i + 1].name, first[i].name);
        EXPECT_EQ(listed[i + 1].detailError, 0u);
    }
    const auto second = List(w, kSecondGenerationClass);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].path, kVelkaroPath);
    EXPECT_EQ(second[0].name, "Velkaro USB");
    EXPECT_EQ(second[1].name, "VKUSB Zenara - Modules");
    EXPECT_TRUE(List(w, InterfaceClassGuid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}).empty());

    // Opening: a listed path in any case, or the fixed path to the first first-generation instrument.
    std::uint32_t error = 99;
    ASSERT_NE(w.raw.open(std::string(kFixedDevicePath), &error), kInvalidHandle);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(w.bench.last("open")->serial, "PC000001");
    EXPECT_EQ(w.bench.last("open")->path, "\\\\.\\vkusb-0");
    EXPECT_NE(w.raw.open("\\\\?\\USB#VID_1234&PID_0DAE#ic000001#{012AD3CE-C19E-485C-9CC0-3935F972BD45}"), kInvalidHandle);
    for (const std::string& path : {FirstGenerationPath("0dac", "IC000001"), FirstGenerationPath("0dae", "IC000003"),
                                   std::string("\\\\.\\vkusb-1"), std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
        EXPECT_EQ(error, kErrorFileNotFound);
    }
    w.bench.setPresent("PC000001", false);
    ASSERT_NE(w.raw.open("\\\\.\\VKUSB-0"), kInvalidHandle);
    EXPECT_EQ(w.bench.last("open")->serial, "IC000001");
}

TEST(BenchHandles, NumbersAreNeverReusedAndShareModesAreHonoured) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const std::string first = FirstGenerationPath("0dad", "UL000001");
    std::uint32_t error = 0;
    // First generation: every client shares writing, so handles coexist; an exclusive one does not join them.
    const Handle a = w.raw.open(first), b = w.raw.open(first);
    ASSERT_NE(a, kInvalidHandle);
    ASSERT_NE(b, kInvalidHandle);
    EXPECT_NE(a, b);
    EXPECT_EQ(w.raw.open(first, &error, kGenericWrite, 0), kInvalidHandle);
    EXPECT_EQ(error, sim::kErrorSharingViolation);
    w.raw.close(a);
    w.raw.close(a);  // harmless
    EXPECT_EQ(w.bench.last("close")->result, kErrorInvalidHandle);
    EXPECT_NE(w.raw.open(first), a);
    EXPECT_EQ(w.raw.reset(a).error, kErrorInvalidHandle);

    const Handle exclusive = w.raw.open(kVelkaroPath, &error, kGenericRead | kGenericWrite, 0);
    ASSERT_NE(exclusive, kInvalidHandle);
    EXPECT_EQ(w.raw.open(kVelkaroPath, &error, kGenericRead | kGenericWrite, 0), kInvalidHandle);
    EXPECT_EQ(error, sim::kErrorSharingViolation);
    w.raw.close(exclusive);
    EXPECT_EQ(w.bench.last("close2")->path, kVelkaroPath);
}

// GO_BOOTLOADER in firmware, BOOT_RESET in the boot loader and the IRIG clock's final reset: the
// instrument leaves at once, handles opened before die for good (1167), and it comes back
// under the other mode's path after its own delay.
TEST(BenchRestart, HandlesDieAndTheInstrumentReturnsAfterItsDelay) {
    struct Row {
        FamilyId family;
        bool bootLoader;
        const char* before;
        const char* after;
        sim::Bytes packet;
        const char* command;
        std::uint32_t delayMs;
    };
    sim::Bytes finalReset(64, 0);
    finalReset[0] = 0xFF, finalReset[1] = 1;
    const Row rows[] = {
        {FamilyId::Ulmo, false, "0dad", "0dac", {0x10, 0x00, 0x00}, "GO_BOOTLOADER", 4000},
        {FamilyId::PowerController, true, "0dac", "0db0", BootPacket(0xFF, 1, 0x00FF), "BOOT_RESET", 5000},
        {FamilyId::IrigClock, false, "0dae", "0dae", finalReset, "BOOT_RESET", 6000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.before);
        sim::InstrumentSpec setup = BenchInstrument(row.family, "SN000001", row.bootLoader);
        setup.restartMs = 4000, setup.bootResetMs = 5000, setup.fpgaResetMs = 6000;
        RawBench w(BenchOf({setup}));
        const Handle old = w.raw.open(FirstGenerationPath(row.before, "SN000001"));
        auto& pic = w.bench.instrument("SN000001");
        const bool irig = row.family == FamilyId::IrigClock;
        if (irig) {
            ASSERT_TRUE(w.raw.exchange(old, {0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'}, 64, 15000).ok);
        }
        const std::int64_t t0 = w.nowUs();
        ASSERT_TRUE(irig ? w.raw.writeOnly(old, row.packet).ok : w.raw.write(old, row.packet).ok);
        EXPECT_EQ(w.raw.read(old, 64, 10).error, kErrorDeviceNotConnected);
        EXPECT_EQ(w.nowUs(), t0);  // gone at once, no wait
        EXPECT_EQ(w.bench.last("read")->command, row.command);

        w.sleepMs(row.delayMs - 1);
        EXPECT_TRUE(List(w).empty());
        w.sleepMs(1);
        const auto listed = List(w);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].path, FirstGenerationPath(row.after, "SN000001"));
        EXPECT_EQ(pic.restarts(), 1u);
        EXPECT_FALSE(pic.programmingMode(w.nowUs()));

        EXPECT_EQ(w.raw.reset(old, 0).error, kErrorDeviceNotConnected);  // dead for good
        EXPECT_TRUE(w.raw.reset(w.raw.open(listed[0].path), 0).ok);
    }
}

}  // namespace
}  // namespace rovenza
