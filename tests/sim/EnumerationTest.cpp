// The bench as a driver client sees it on the bus: listing, paths, opening, handles.
#include <gtest/gtest.h>

#include "support/BenchFixture.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

std::vector<DeviceInterfaceEntry> List(RawBench& w, const InterfaceClassGuid& cls) {
    std::vector<DeviceInterfaceEntry> out;
    EXPECT_TRUE(w.bench.interfaces().enumerate(cls, out));
    return out;
}

TEST(BenchEnumeration, ListsEachFirstGenerationInstrumentUnderItsModePid) {
    struct Row {
        FamilyId family;
        bool bootLoader;
        const char* serial;
        const char* pid;
        const char* name;
    };
    const Row rows[] = {
        {FamilyId::PowerController, false, "PC000001", "0db0", "VK101 Power Controller"},
        {FamilyId::IrigClock, false, "IC000001", "0dae", "IRIG Clock"},
        {FamilyId::Ulmo, false, "UL000001", "0dad", "ULMO"},
        {FamilyId::PowerController, true, "PC000002", "0dac", "USB Boot Loader"},
        {FamilyId::IrigClock, true, "IC000002", "0dac", "USB Boot Loader"},
    };
    sim::BenchSpec setup;
    for (const auto& row : rows) setup.instruments.push_back(BenchInstrument(row.family, row.serial, row.bootLoader));
    setup.instruments.push_back(BenchInstrument(FamilyId::Velkaro, "TV000001"));
    RawBench w(setup);

    std::vector<DeviceInterfaceEntry> listed{{"kept", "earlier entry", 0}};
    ASSERT_TRUE(w.bench.interfaces().enumerate(kFirstGenerationClass, listed));
    ASSERT_EQ(listed.size(), std::size(rows) + 1);
    EXPECT_EQ(listed[0].path, "kept");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].serial);
        EXPECT_EQ(listed[i + 1].path, FirstGenerationPath(rows[i].pid, rows[i].serial));
        EXPECT_EQ(listed[i + 1].name, rows[i].name);
        EXPECT_EQ(listed[i + 1].detailError, 0u);
    }
}

TEST(BenchEnumeration, SecondGenerationInstrumentsAreListedOnlyUnderTheirOwnClass) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::Zenara, "ZN000001"),
                          BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const auto second = List(w, kSecondGenerationClass);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].path, "\\\\?\\usb#vid_1234&pid_0e10#TV000001#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}");
    EXPECT_EQ(second[0].name, "Velkaro USB");
    EXPECT_EQ(second[1].name, "VKUSB Zenara - Modules");
    EXPECT_EQ(List(w, kFirstGenerationClass).size(), 1u);
    EXPECT_TRUE(List(w, InterfaceClassGuid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}).empty());
}

TEST(BenchEnumeration, FixedPathOpensTheFirstFirstGenerationInstrumentOnTheBus) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::PowerController, "PC000001"),
                          BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    std::uint32_t error = 99;
    const Handle first = w.raw.open(std::string(kFixedDevicePath), &error);
    ASSERT_NE(first, kInvalidHandle);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(w.bench.last("open")->serial, "PC000001");
    EXPECT_EQ(w.bench.last("open")->path, "\\\\.\\vkusb-0");

    w.bench.setPresent("PC000001", false);
    ASSERT_NE(w.raw.open("\\\\.\\VKUSB-0"), kInvalidHandle);
    EXPECT_EQ(w.bench.last("open")->serial, "IC000001");

    w.bench.setPresent("IC000001", false);
    EXPECT_EQ(w.raw.open(std::string(kFixedDevicePath), &error), kInvalidHandle);
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST(BenchEnumeration, OpenFindsListedPathsOnlyWithoutRegardToCase) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    std::uint32_t error = 0;
    EXPECT_NE(w.raw.open("\\\\?\\USB#VID_1234&PID_0DAE#ic000001#{012AD3CE-C19E-485C-9CC0-3935F972BD45}", &error),
              kInvalidHandle);
    for (const std::string& path : {FirstGenerationPath("0dac", "IC000001"), FirstGenerationPath("0dae", "IC000002"),
                                   std::string("\\\\.\\vkusb-1"), std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(w.raw.open(path, &error), kInvalidHandle);
        EXPECT_EQ(error, kErrorFileNotFound);
        EXPECT_EQ(w.bench.last("open")->result, kErrorFileNotFound);
    }
}

TEST(BenchEnumeration, OpensAreRecordedWithFlagsAndGetUniqueHandles) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001")}));
    const std::string path = FirstGenerationPath("0db0", "PC000001");
    const Handle a = w.raw.open(path);
    const Handle b = w.raw.open(path);
    ASSERT_NE(a, kInvalidHandle);
    ASSERT_NE(b, kInvalidHandle);
    EXPECT_NE(a, b);
    const auto opens = w.bench.select("open");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].access, kGenericWrite);
    EXPECT_EQ(opens[0].share, kFileShareWrite);
    EXPECT_EQ(opens[1].handle, b);
    w.raw.close(a);
    EXPECT_NE(w.raw.open(path), a);  // a number is never handed out twice
}

TEST(BenchEnumeration, ShareModesAreHonouredAmongLiveHandles) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const std::string second = "\\\\?\\usb#vid_1234&pid_0e10#TV000001#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";
    std::uint32_t error = 0;
    const Handle exclusive = w.raw.open(second, &error, kGenericRead | kGenericWrite, 0);
    ASSERT_NE(exclusive, kInvalidHandle);
    EXPECT_EQ(w.bench.last("open2")->call, "open2");
    EXPECT_EQ(w.raw.open(second, &error, kGenericRead | kGenericWrite, 0), kInvalidHandle);
    EXPECT_EQ(error, sim::kErrorSharingViolation);
    w.raw.close(exclusive);
    EXPECT_EQ(w.bench.last("close2")->path, second);
    EXPECT_NE(w.raw.open(second, &error, kGenericRead | kGenericWrite, 0), kInvalidHandle);

    // First generation: every client shares writing, so several handles coexist, but an
    // exclusive one does not join them.
    const std::string first = FirstGenerationPath("0dad", "UL000001");
    ASSERT_NE(w.raw.open(first), kInvalidHandle);
    EXPECT_EQ(w.raw.open(first, &error, kGenericWrite, 0), kInvalidHandle);
    EXPECT_EQ(error, sim::kErrorSharingViolation);
}

TEST(BenchEnumeration, ClosingADeadOrUnknownHandleIsHarmless) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001")}));
    const Handle h = w.raw.open(FirstGenerationPath("0db0", "PC000001"));
    w.raw.close(h);
    w.raw.close(h);
    w.raw.close(kInvalidHandle);
    const auto closes = w.bench.select("close");
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[0].result, 0u);
    EXPECT_EQ(closes[1].result, kErrorInvalidHandle);
    EXPECT_EQ(w.bench.bench().openHandles(), 0u);
    EXPECT_EQ(w.raw.reset(h).error, kErrorInvalidHandle);
}

TEST(BenchEnumeration, AHandleDiesForGoodWhenItsInstrumentRestarts) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001")}));
    const Handle old = w.raw.open(FirstGenerationPath("0db0", "PC000001"));
    ASSERT_TRUE(w.raw.write(old, {0x10, 0x00, 0x00}).ok);
    EXPECT_EQ(w.raw.read(old, 64, 10).error, kErrorDeviceNotConnected);
    EXPECT_EQ(w.raw.reset(old, 0).error, kErrorDeviceNotConnected);
    EXPECT_TRUE(List(w, kFirstGenerationClass).empty());

    w.sleepMs(sim::kDefaultRestartMs);
    ASSERT_EQ(List(w, kFirstGenerationClass).size(), 1u);
    EXPECT_EQ(w.raw.write(old, sim::Bytes(64, 0)).error, kErrorDeviceNotConnected);
    const Handle fresh = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    ASSERT_NE(fresh, kInvalidHandle);
    EXPECT_TRUE(w.raw.reset(fresh, 0).ok);
    w.raw.close(old);  // still harmless
    EXPECT_EQ(w.bench.last("close")->result, 0u);
}

TEST(BenchEnumeration, RequestsOfTheWrongGenerationOrAccessAreRefused) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001"), BenchInstrument(FamilyId::Ulmo, "UL000001")}));
    const std::string second = "\\\\?\\usb#vid_1234&pid_0e10#TV000001#{9fc19cc8-c7ba-4faf-bbdc-9d19ffb92bc0}";
    const Handle h2 = w.raw.open(second, nullptr, kGenericRead | kGenericWrite, 0);
    const Handle h1 = w.raw.open(FirstGenerationPath("0dad", "UL000001"));
    EXPECT_EQ(w.raw.request(h2, kIoctlWrite2, RawHeader(0, 1000), {0xA1}).error, kErrorGenFailure);  // not modelled
    EXPECT_EQ(w.bench.last("write2")->result, kErrorGenFailure);
    EXPECT_EQ(w.raw.request(h2, kIoctlRead, RawHeader(1, 1000), sim::Bytes(64)).error, sim::kErrorInvalidFunction);
    EXPECT_EQ(w.raw.request(h1, kIoctlRead2, RawHeader(1, 1000), sim::Bytes(64)).error, sim::kErrorInvalidFunction);
    EXPECT_EQ(w.raw.request(h1, 0x222000, {}, {}).error, sim::kErrorInvalidFunction);
    EXPECT_EQ(w.bench.last("ioctl")->controlCode, 0x222000u);

    w.raw.close(h2);
    const Handle writeOnly = w.raw.open(second, nullptr, kGenericWrite, 0);
    EXPECT_EQ(w.raw.request(writeOnly, kIoctlWrite2, RawHeader(0, 1000), {0xA1}).error, sim::kErrorAccessDenied);
}

TEST(BenchEnumeration, AnEnumerateFaultListsTheInstrumentWithAFailedDetailQuery) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001")}));
    w.bench.addFault("IC000001", {.request = "enumerate", .occurrence = 2, .action = sim::FaultAction::Fail, .code = 13});
    EXPECT_EQ(List(w, kFirstGenerationClass)[0].detailError, 0u);
    const auto second = List(w, kFirstGenerationClass);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].path, "");
    EXPECT_EQ(second[0].detailError, 13u);
    EXPECT_EQ(List(w, kFirstGenerationClass)[0].path, FirstGenerationPath("0dae", "IC000001"));
}

}  // namespace
}  // namespace rovenza
