// The bench dump: requests.log and the host's waits line by line (kept in memory or streamed),
// and each instrument's folder.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "support/BenchFixture.h"
#include "support/TempDir.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

using sim::FamilyId;

TEST(BenchDump, RequestsLogHasOneLinePerDriverCall) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)}));
    const std::string path = FirstGenerationPath("0dac", "PC000001");
    w.sleepMs(5);
    const Handle h = w.raw.open(path);
    w.sleepMs(1);
    w.bench.virtualClock()->advance(std::chrono::microseconds(234));
    w.raw.exchange(h, BootPacket(1, 2, 0x0800), 37);
    w.raw.reset(h, 0);
    w.raw.close(h);
    w.raw.read(h, 1);  // on a closed handle

    TempDir dir;
    w.bench.dump(dir.path() / "out");
    const std::vector<std::string> expected = {
        "5.000\t" + path + "\topen\t-\t\t\t0",
        "6.234\t" + path + "\twrite\tREAD_FLASH\t0102000800" + std::string(118, '0') + "\t\t0",
        "6.234\t" + path + "\tread\tREAD_FLASH\t\t01020008003C43\t0",
        "6.234\t" + path + "\treset\t-\t\t\t0",
        "6.234\t" + path + "\tclose\t-\t\t\t0",
        "6.234\t\tread\t-\t\t\t6",
    };
    EXPECT_EQ(FileLines(dir.path() / "out" / "requests.log"), expected);
}

TEST(BenchDump, EachInstrumentGetsItsMemoriesAndState) {
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true), BenchInstrument(FamilyId::IrigClock, "IC000001"),
                        BenchInstrument(FamilyId::Ulmo, "UL000001"), BenchInstrument(FamilyId::Zenara, "ZN000001")}));
    const Handle pc = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    w.raw.exchange(pc, BootPacket(2, 1, 0x0800, {0x00}), 37);
    w.raw.exchange(pc, BootPacket(0xFF, 1, 0x00FF), 0, 10);
    const Handle irig = w.raw.open(FirstGenerationPath("0dae", "IC000001"));
    w.raw.exchange(irig, {0x00, 0x02, 0x00, 0x50, 'P', 'R', 'M', 'D'}, 64, 15000);
    sim::Bytes block = {0x00, 0x02, 0x00, 0x52, 0x00, 0x00, 0x40};
    block.resize(39, 0xA7);
    w.raw.exchange(irig, block, 64);

    TempDir dir;
    w.bench.dump(dir.path());
    struct Row {
        const char* file;
        std::size_t size;
    };
    for (const Row& row : {Row{"PC000001/program.bin", 32768}, Row{"PC000001/eeprom.bin", 256},
                           Row{"IC000001/program.bin", 32768}, Row{"IC000001/fpga.bin", 0x60},
                           Row{"UL000001/can.bin", 65536}, Row{"UL000001/eeprom.bin", 256}}) {
        SCOPED_TRACE(row.file);
        EXPECT_EQ(std::filesystem::file_size(dir.path() / row.file), row.size);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "PC000001" / "fpga.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "PC000001" / "can.bin"));
    EXPECT_EQ(FileBytes(dir.path() / "PC000001" / "program.bin"), w.bench.instrument("PC000001").program());
    EXPECT_EQ(FileBytes(dir.path() / "PC000001" / "program.bin")[0x0800], 0x00);
    EXPECT_EQ(FileBytes(dir.path() / "IC000001" / "fpga.bin")[0x40], 0xA7);

    const auto pcState = FileLines(dir.path() / "PC000001" / "state.txt");
    for (const char* line : {"present=0", "mode=firmware", "pid=0DB0", "restarts=1"})
        EXPECT_NE(std::find(pcState.begin(), pcState.end(), line), pcState.end()) << line;
    const auto irigState = FileLines(dir.path() / "IC000001" / "state.txt");
    EXPECT_NE(std::find(irigState.begin(), irigState.end(), "programmingMode=1"), irigState.end());

    // A folder that cannot be made is an error, not a silent loss.
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_THROW(w.bench.dump(dir.path() / "file"), std::runtime_error);
    EXPECT_THROW(w.bench.dump(dir.path() / "file" / "below"), std::runtime_error);
}

TEST(BenchDump, TheSecondGenerationsEepromFlashUpToItsHighestByteWrittenAndState) {
    sim::InstrumentSpec velkaro = BenchInstrument(FamilyId::Velkaro, "TV000001");
    velkaro.eraseMs = 0;
    sim::InstrumentSpec zenara = BenchInstrument(FamilyId::Zenara, "ZN000001");
    zenara.modules = {1, 7, std::nullopt};
    RawBench w(BenchOf({velkaro, zenara}));
    TempDir dir;
    w.bench.dump(dir.path() / "before");
    const sim::Bytes old = FileBytes(dir.path() / "before" / "TV000001" / "fpga.bin");
    ASSERT_EQ(old.size(), 0x40000u);  // the old configuration
    EXPECT_EQ(old[0x3FFFF], sim::SecondGenInstrument::OldConfigurationByte(0x3FFFF));

    const Handle h = w.raw.open2(VelkaroPath("TV000001"));
    for (const sim::Bytes& frame : {sim::Bytes{0xA0, 0x01}, sim::Bytes{0xAF, 0x00}, sim::Bytes{0xA7},
                                    sim::Bytes{0xA6, 0x00, 0x01, 0x00, 0x02, 0x12, 0xFF}, sim::Bytes{0xA6, 0x12, 0x34, 0x56, 0x01, 0x5A},
                                    sim::Bytes{0xA9, 0x00, 0x10, 0x01, 0x77}})
        ASSERT_TRUE(w.raw.exchange2(h, frame).ok);
    w.bench.dump(dir.path() / "after");
    const auto& tv = w.bench.secondGen("TV000001");
    const sim::Bytes eeprom = FileBytes(dir.path() / "after" / "TV000001" / "eeprom.bin");
    EXPECT_EQ(eeprom, tv.eeprom());
    EXPECT_EQ(eeprom[0x10], 0x77);
    const sim::Bytes fpga = FileBytes(dir.path() / "after" / "TV000001" / "fpga.bin");
    ASSERT_EQ(fpga.size(), 0x123457u);
    EXPECT_EQ(std::count(fpga.begin(), fpga.end(), 0xFF), 0x123457 - 2);
    EXPECT_EQ(std::tuple(fpga[0x100], fpga[0x123456]), std::tuple(0x12, 0x5A));
    EXPECT_EQ(tv.flash().pagesHeld(), 2u);  // 16 MiB of flash cost what was written

    const auto state = FileLines(dir.path() / "after" / "TV000001" / "state.txt");
    for (const char* line : {"mode=1", "fpgaPower=0", "busy=0", "erases=1", "eepromRewritten=1", "present=1"})
        EXPECT_NE(std::find(state.begin(), state.end(), line), state.end()) << line;
    const auto zenaraState = FileLines(dir.path() / "after" / "ZN000001" / "state.txt");
    for (const char* line : {"module1=1", "module2=7", "module3=", "fpgaPower=1"})
        EXPECT_NE(std::find(zenaraState.begin(), zenaraState.end(), line), zenaraState.end()) << line;
}

// bench.json starts a bench whose instruments are as the dumped ones were: dumping that bench at
// once gives the same memories, state and bench file.
TEST(BenchDump, ItsBenchFileStartsTheInstrumentsAsTheyAre) {
    sim::InstrumentSpec slow = BenchInstrument(FamilyId::IrigClock, "IC000001");
    slow.prmdMs = 16000;
    slow.name = "IRIG-OTHER";
    sim::InstrumentSpec zenara = BenchInstrument(FamilyId::Zenara, "ZN000001");
    zenara.modules = {1, 7, std::nullopt, 4};
    zenara.faults.push_back({.request = "0x54", .action = sim::FaultAction::Fail});
    RawBench w(BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true), slow,
                        BenchInstrument(FamilyId::Ulmo, "UL000001"), BenchInstrument(FamilyId::Velkaro, "TV000001"),
                        zenara}));
    // The power controller's boot loader writes a row; the IRIG clock is unplugged; the
    // Velkaro instrument's FPGA is switched off and a flash block written.
    const Handle pc = w.raw.open(FirstGenerationPath("0dac", "PC000001"));
    w.raw.exchange(pc, BootPacket(2, 32, 0x0800, sim::Bytes(32, 0x00)), 37);
    w.bench.setPresent("IC000001", false);
    const Handle tv = w.raw.open2(VelkaroPath("TV000001"));
    for (const sim::Bytes& frame : {sim::Bytes{0xAF, 0x00}, sim::Bytes{0xA6, 0x20, 0x00, 0x00, 0x02, 0x12, 0x34}})
        ASSERT_TRUE(w.raw.exchange2(tv, frame).ok);
    TempDir dir;
    w.bench.dump(dir.path() / "first");

    const sim::BenchSpec setup = sim::LoadBenchFile(dir.path() / "first" / "bench.json", "virtual");
    ASSERT_EQ(setup.instruments.size(), 5u);
    EXPECT_EQ(setup.latencyUs, 0u);
    const auto& [pcSpec, irigSpec, ulmoSpec, tvSpec, znSpec] =
        std::tie(setup.instruments[0], setup.instruments[1], setup.instruments[2], setup.instruments[3], setup.instruments[4]);
    EXPECT_EQ(std::tuple(pcSpec.bootLoader, pcSpec.present, pcSpec.memoryFiles.at("program")),
              std::tuple(true, true, "PC000001/program.bin"));
    EXPECT_EQ(std::tuple(irigSpec.present, irigSpec.prmdMs, irigSpec.name), std::tuple(false, 16000u, "IRIG-OTHER"));
    EXPECT_EQ(ulmoSpec.memories.at("can").size(), 65536u);
    EXPECT_FALSE(tvSpec.fpgaPower);
    EXPECT_EQ(znSpec.modules, zenara.modules);
    EXPECT_TRUE(znSpec.faults.empty());  // the fault rules stay with the first bench
    EXPECT_EQ(znSpec.memoryFiles.size(), 5u);  // eeprom, fpga and the three modules

    sim::SimulatedBench again(setup);
    EXPECT_FALSE(again.bench().find("IC000001")->present());
    again.dump(dir.path() / "again");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path() / "first")) {
        if (!entry.is_regular_file() || entry.path().filename() == "requests.log") continue;
        const auto relative = std::filesystem::relative(entry.path(), dir.path() / "first");
        std::vector<std::string> first = FileLines(entry.path()), second = FileLines(dir.path() / "again" / relative);
        if (relative.filename() == "state.txt") {
            // What happened to the first bench (restarts, stored blocks) is not carried over.
            auto drop = [](std::vector<std::string>& lines) {
                std::erase_if(lines, [](const std::string& l) { return l.starts_with("restarts=") || l.find("Blocks=") != std::string::npos || l.starts_with("eepromRewritten="); });
            };
            drop(first);
            drop(second);
        }
        EXPECT_EQ(first, second) << relative;
    }
}

// A conversation with every kind of line: opens that fail, requests of both generations, time-outs,
// resets and closes.
void Converse(sim::SimulatedBench& bench) {
    RawDriver raw(bench.driver());
    raw.open(FirstGenerationPath("0dac", "PC000009"));
    const Handle pc = raw.open(FirstGenerationPath("0dac", "PC000001"));
    for (std::uint16_t row = 0x0800; row < 0x0A00; row += 0x20) raw.exchange(pc, BootPacket(1, 32, row), 37);
    raw.exchange(pc, BootPacket(3, 32, 0x0800), 1);
    raw.read(pc, 37, 20);
    raw.reset(pc, 1);
    raw.close(pc);
    const Handle tv = raw.open2(VelkaroPath("TV000001"));
    raw.exchange2(tv, {0xA8, 0x1E, 0x00, 0x10});
    raw.exchange2(tv, {0x42});
    raw.close(tv);
}

TEST(BenchDump, AStreamingRecorderWritesTheSameRequestsLogAndKeepsNothing) {
    const sim::BenchSpec setup = BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true),
                                          BenchInstrument(FamilyId::Velkaro, "TV000001")});
    TempDir dir;
    sim::SimulatedBench kept(setup);
    sim::SimulatedBench streamed(setup, {.keep = false, .log = dir.path() / "live" / "requests.log"});
    Converse(kept);
    Converse(streamed);
    EXPECT_TRUE(streamed.requests().empty());
    EXPECT_EQ(streamed.count(""), kept.requests().size());
    EXPECT_EQ(streamed.count("write", "READ_FLASH"), 16u);
    EXPECT_EQ(streamed.count("read2"), kept.count("read2"));

    kept.dump(dir.path() / "kept");
    streamed.dump(dir.path() / "live");
    streamed.dump(dir.path() / "elsewhere");
    const auto expected = FileLines(dir.path() / "kept" / "requests.log");
    EXPECT_EQ(expected.size(), kept.requests().size());
    EXPECT_EQ(FileLines(dir.path() / "live" / "requests.log"), expected);
    EXPECT_EQ(FileLines(dir.path() / "elsewhere" / "requests.log"), expected);
}

// The host's sleeps go to waits.log and waits.txt, apart from the requests, whether the bench
// keeps them or streams them; the bench's own waits (here a read that times out) are summed
// beside them.
TEST(BenchDump, TheHostsWaitsAreLoggedApartFromTheRequestsAndSummed) {
    const sim::BenchSpec setup = BenchOf({BenchInstrument(FamilyId::PowerController, "PC000001", true)});
    TempDir dir;
    sim::SimulatedBench kept(setup);
    sim::SimulatedBench streamed(
        setup, {.keep = false, .log = dir.path() / "live" / "requests.log", .waitLog = dir.path() / "live" / "waits.log"});
    for (sim::SimulatedBench* bench : {&kept, &streamed}) {
        RawDriver raw(bench->driver());
        bench->clock().sleep(5);
        const Handle h = raw.open(FirstGenerationPath("0dac", "PC000001"));
        raw.read(h, 1, 20);  // no reply pending: the bench waits 20 ms and fails the read
        bench->clock().sleep(5);
        bench->clock().sleep(1);
        raw.close(h);
    }
    EXPECT_EQ(kept.requests().size(), 3u);
    EXPECT_EQ(kept.waits(), (std::vector<sim::RecordedWait>{{0, 5000, 5000}, {25000, 5000, 5000}, {30000, 1000, 1000}}));
    EXPECT_TRUE(streamed.waits().empty());
    const sim::WaitTotals totals = streamed.waitTotals();
    EXPECT_EQ(std::tuple(totals.count, totals.askedUs, totals.tookUs, totals.shorter), std::tuple(3u, 11000, 11000, 0u));

    kept.dump(dir.path() / "kept");
    streamed.dump(dir.path() / "live");
    const std::vector<std::string> log{"0.000\t5.000\t5.000", "25.000\t5.000\t5.000", "30.000\t1.000\t1.000"};
    const std::vector<std::string> summary{
        "waits=3", "askedMs=11.000", "tookMs=11.000", "shorter=0", "longestOverMs=0.000", "benchWaitMs=20.000",
        "nowMs=31.000", "length 1.000 ms: waits=1 tookMs=1.000 longestOverMs=0.000",
        "length 5.000 ms: waits=2 tookMs=10.000 longestOverMs=0.000"};
    for (const char* folder : {"kept", "live"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(FileLines(dir.path() / folder / "waits.log"), log);
        EXPECT_EQ(FileLines(dir.path() / folder / "waits.txt"), summary);
        EXPECT_EQ(FileLines(dir.path() / folder / "requests.log").size(), 3u);
    }
}

}  // namespace
}  // namespace rovenza
