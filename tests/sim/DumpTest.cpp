// The bench dump: requests.log line by line, and each instrument's folder.
#include <gtest/gtest.h>

#include <fstream>

#include "support/BenchFixture.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using sim::FamilyId;

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

sim::Bytes ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return sim::Bytes(std::istreambuf_iterator<char>(in), {});
}

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
    EXPECT_EQ(Lines(dir.path() / "out" / "requests.log"), expected);
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
    EXPECT_EQ(ReadFile(dir.path() / "PC000001" / "program.bin"), w.bench.instrument("PC000001").program());
    EXPECT_EQ(ReadFile(dir.path() / "PC000001" / "program.bin")[0x0800], 0x00);
    EXPECT_EQ(ReadFile(dir.path() / "IC000001" / "fpga.bin")[0x40], 0xA7);

    const auto pcState = Lines(dir.path() / "PC000001" / "state.txt");
    for (const char* line : {"present=0", "mode=firmware", "pid=0DB0", "restarts=1"})
        EXPECT_NE(std::find(pcState.begin(), pcState.end(), line), pcState.end()) << line;
    const auto irigState = Lines(dir.path() / "IC000001" / "state.txt");
    EXPECT_NE(std::find(irigState.begin(), irigState.end(), "programmingMode=1"), irigState.end());

    // A folder that cannot be made is an error, not a silent loss.
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_THROW(w.bench.dump(dir.path() / "file"), std::runtime_error);
    EXPECT_THROW(w.bench.dump(dir.path() / "file" / "below"), std::runtime_error);
}

}  // namespace
}  // namespace rovenza
