// The FPGA configuration text: digit pairs into 32-byte blocks, and the texts that are refused.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "protocols/FpgaConfig.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

struct FpgaTextRow {
    const char* name;
    std::string text;
    std::optional<FpgaTextError> error;  // none: accepted
    std::size_t blocks = 0;
    std::uint8_t lastByte = 0;  // of the last block
};
void PrintTo(const FpgaTextRow& row, std::ostream* os) { *os << row.name; }

class FpgaTextTest : public ::testing::TestWithParam<FpgaTextRow> {};

TEST_P(FpgaTextTest, ReadsOrRefuses) {
    TempDir dir;
    const auto path = dir.path() / "fpga.hex";
    std::ofstream(path, std::ios::binary) << GetParam().text;
    const FpgaTextResult result = ReadFpgaConfiguration(path);
    if (GetParam().error) {
        EXPECT_FALSE(result.configuration);
        EXPECT_EQ(result.error, *GetParam().error);
        EXPECT_NE(result.reason.find("fpga.hex"), std::string::npos) << result.reason;
        return;
    }
    ASSERT_TRUE(result.configuration);
    const auto& bytes = result.configuration->bytes;
    EXPECT_EQ(result.configuration->blocks(), GetParam().blocks);
    EXPECT_EQ(bytes[0], 0x1F);
    EXPECT_EQ(bytes.back(), GetParam().lastByte);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FpgaTextTest,
    ::testing::Values(FpgaTextRow{"TwoBlocksAndALineEnd", "1f" + std::string(126, 'A') + "\r\n", std::nullopt, 2, 0xAA},
                      FpgaTextRow{"LastBlockFilledUp", "1F2233 \n", std::nullopt, 1, 0xFF},
                      FpgaTextRow{"Empty", "", FpgaTextError::Empty},
                      FpgaTextRow{"OnlyBlanksAndLineEnds", " \r\n\t\n", FpgaTextError::Empty},
                      FpgaTextRow{"StrayCharacter", "1F G0", FpgaTextError::NotHexadecimal},
                      FpgaTextRow{"OddDigits", "1F2\r\n", FpgaTextError::OddDigits}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
