// The reply limit of every read in a clean upgrade of each family: the number of bytes the host
// is ready to take back for each command.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "devices/Families.h"
#include "fwu/DemoPackage.h"
#include "support/BenchWorld.h"

namespace rovenza {
namespace {

struct LimitsRow {
    const char* name;
    FamilyId family;
    std::string_view demo;
    std::map<std::string, std::set<std::uint32_t>> limits;  // command: every limit its reads had
};
void PrintTo(const LimitsRow& row, std::ostream* os) { *os << row.name; }

class ReplyLimitsTest : public ::testing::TestWithParam<LimitsRow> {};

TEST_P(ReplyLimitsTest, EachCommandReadsWithItsOwnLimit) {
    const LimitsRow& row = GetParam();
    sim::BenchSpec setup = BenchWorld::One(row.family, "SN000001");
    BenchWorld world(setup);
    const auto upgrader = CreateUpgrader(static_cast<int>(row.family), world.context());
    ASSERT_EQ(world.Run(*upgrader, world.Package(*DemoPackageMembers(row.demo))), "Firmware upgrade successful!");
    std::map<std::string, std::set<std::uint32_t>> limits;
    for (const auto& request : world.bench.requests())
        if (request.call == "read" || request.call == "read2") limits[request.command].insert(request.replyLimit);
    EXPECT_EQ(limits, row.limits);
}

INSTANTIATE_TEST_SUITE_P(
    Families, ReplyLimitsTest,
    ::testing::Values(
        LimitsRow{"Vk101", FamilyId::PowerController, kDemoVk101,
                  {{"GO_BOOTLOADER", {64}}, {"ERASE_FLASH", {1}}, {"WRITE_FLASH", {37}}, {"READ_FLASH", {37}},
                   {"WRITE_EEDATA", {1}}, {"BOOT_RESET", {0}}}},
        // The FPGA block read takes what the block write's reply delivered.
        LimitsRow{"IrigClock", FamilyId::IrigClock, kDemoIrig,
                  {{"GO_BOOTLOADER", {64}}, {"ERASE_FLASH", {1}}, {"WRITE_FLASH", {37}}, {"READ_FLASH", {37}},
                   {"WRITE_EEDATA", {1}}, {"BOOT_RESET", {0}}, {"PRMD", {64}}, {"FPGA_CMD2", {64}},
                   {"FPGA_WRITE", {64}}, {"FPGA_READ", {37}}}},
        LimitsRow{"Ulmo", FamilyId::Ulmo, kDemoUlmo,
                  {{"GO_BOOTLOADER", {64}}, {"ERASE_FLASH", {1}}, {"WRITE_FLASH", {37}}, {"READ_FLASH", {37}},
                   {"WRITE_EEDATA", {1}}, {"BOOT_RESET", {0}}, {"CAN_FIRST", {64}}, {"CAN_SECOND", {64}},
                   {"CAN_FINISH", {64}}}},
        // The second generation reads every reply into a 64-byte buffer.
        LimitsRow{"Velkaro", FamilyId::Velkaro, kDemoVelkaro,
                  {{"SET_MODE", {64}}, {"GET_STATUS", {64}}, {"MEM_READ", {64}}, {"MEM_WRITE", {64}},
                   {"FLASH_ERASE", {64}}, {"FLASH_READ", {64}}, {"FLASH_WRITE", {64}}, {"FPGA_POWER", {64}}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
