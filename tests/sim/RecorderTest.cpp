// The recorder's modes: a bench that neither keeps nor logs its records only counts its calls,
// and the counts are those of a bench that keeps every record.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "devices/IRIGDevice.h"
#include "devices/TERVADevice.h"
#include "devices/ULMODevice.h"
#include "devices/VK101PowConDevice.h"
#include "devices/VKZenaraModulDevice.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/BenchFixture.h"
#include "support/RecordingPlatform.h"
#include "support/TempDir.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

// A clean upgrade with the demo package of `demo`.
template <typename Upgrader>
void UpgradeWithDemo(sim::SimulatedBench& bench, std::string_view demo) {
    TempDir folder;
    const auto package = folder.path() / "demo.fwu";
    WriteFwu(package, *DemoPackageMembers(demo));
    RecordingDebug debug;
    RecordingOperator op;
    const Context ctx{bench.driver(), bench.interfaces(), bench.clock(), debug, op, folder.path()};
    Upgrader upgrader(ctx);
    upgrader.PackageFileName = package.string();
    std::string message;
    upgrader.Upgrade(message);
    EXPECT_EQ(message, "Firmware upgrade successful!") << demo;
}

// Requests of both generations that the bench refuses, fails or lets time out, and one that a
// fault rule shapes.
void Refusals(sim::SimulatedBench& bench) {
    RawDriver raw(bench.driver());
    raw.open(FirstGenerationPath("0dac", "PC000009"));  // no such instrument
    const Handle pc = raw.open(FirstGenerationPath("0dac", "PC000001"));
    raw.exchange(pc, BootPacket(1, 32, 0x0800), 37);  // the fault rule's READ_FLASH
    raw.read(pc, 37, 20);                              // nothing pending
    raw.request(pc, kIoctlWrite, RawHeader(0, 1000), {});       // no packet
    raw.request(pc, kIoctlRead, RawBytes(3), RawBytes(64));     // a short input record
    raw.request(pc, kIoctlWrite2, RawHeader(0, 1000), {0xA1});  // the other generation's code
    raw.request(pc, 0x222000, RawHeader(0, 1000), {});          // no such request
    raw.reset(pc, 1);
    raw.close(pc);
    raw.read(pc, 1);  // on a closed handle
    const Handle tv = raw.open2(VelkaroPath("TV000001"));
    raw.exchange2(tv, {0xA8, 0x1E, 0x00, 0x10});
    raw.exchange2(tv, {0x42});  // no such frame
    raw.close(tv);
}

TEST(Recorder, OneThatKeepsNothingCountsEveryCallAsTheKeptRecordsDo) {
    sim::InstrumentSpec zenara = BenchInstrument(FamilyId::Zenara, "ZN000001");
    zenara.modules = {1, 2, 3, 4, 5, 6, 4, 1};
    sim::InstrumentSpec refused = BenchInstrument(FamilyId::PowerController, "PC000001", true);
    refused.faults.push_back({.request = "READ_FLASH", .action = sim::FaultAction::Timeout, .on = sim::FaultSide::Read});
    const auto upgrade = []<typename Upgrader>(std::type_identity<Upgrader>, std::string_view demo) {
        return [demo](sim::SimulatedBench& bench) { UpgradeWithDemo<Upgrader>(bench, demo); };
    };
    struct Row {
        const char* what;
        sim::BenchSpec setup;
        std::function<void(sim::SimulatedBench&)> run;
    };
    const std::vector<Row> rows = {
        {"VK101", BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001")}),
         upgrade(std::type_identity<TVK101PowConDevice>(), kDemoVk101)},
        {"IRIG clock", BenchOf({BenchInstrument(FamilyId::IrigClock, "IC000001")}),
         upgrade(std::type_identity<TIRIGDevice>(), kDemoIrig)},
        {"ULMO", BenchOf({BenchInstrument(FamilyId::Ulmo, "UL000001")}), upgrade(std::type_identity<TULMODevice>(), kDemoUlmo)},
        {"Velkaro", BenchOf({BenchInstrument(FamilyId::Velkaro, "TV000001")}),
         upgrade(std::type_identity<TTERVADevice2>(), kDemoVelkaro)},
        {"Zenara", BenchOf({zenara}), upgrade(std::type_identity<TVKZenaraModulDevice>(), kDemoZenara)},
        {"refused and failing requests", BenchOf({refused, BenchInstrument(FamilyId::Velkaro, "TV000001")}), Refusals},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::SimulatedBench kept(row.setup);
        sim::SimulatedBench counted(row.setup, {.keep = false});
        row.run(kept);
        row.run(counted);
        EXPECT_TRUE(counted.requests().empty());
        EXPECT_EQ(counted.count(""), kept.requests().size());
        std::set<std::pair<std::string, std::string>> pairs;
        for (const auto& request : kept.requests()) pairs.emplace(request.call, request.command);
        for (const auto& [call, command] : pairs) {
            EXPECT_EQ(counted.count(call, command), kept.count(call, command)) << call << " " << command;
            EXPECT_EQ(counted.count(call), kept.count(call)) << call;
            EXPECT_EQ(counted.count("", command), kept.count("", command)) << command;
        }
    }
}

}  // namespace
}  // namespace rovenza
