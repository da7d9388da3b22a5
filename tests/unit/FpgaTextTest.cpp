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
    std::string reasonHas = "fpga.hex";
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
        EXPECT_NE(result.reason.find(GetParam().reasonHas), std::string::npos) << result.reason;
        return;
    }
    ASSERT_TRUE(result.configuration);
    const FpgaConfiguration& configuration = *result.configuration;
    EXPECT_EQ(configuration.blocks(), GetParam().blocks);
    // The text is decoded block by block from its file, across the reader's pieces.
    ImageFile::Reader reader(configuration.text);
    std::vector<std::uint8_t> bytes;
    for (std::size_t b = 0; b < configuration.blocks(); ++b) {
        const auto block = configuration.block(reader, b);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    EXPECT_EQ(bytes[0], 0x1F);
    EXPECT_EQ(bytes.back(), GetParam().lastByte);
    for (std::size_t i = 1; i + kFpgaBlockSize < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0xAA) << i;
    // A text rewritten after it was checked is never sent.
    std::ofstream(path, std::ios::binary | std::ios::in) << "1E";
    ImageFile::Reader again(configuration.text);
    EXPECT_THROW(configuration.block(again, 0), EImageChanged);
}

// Texts longer than the pieces the file is read in.
const std::string kLong = "1f" + std::string(2 * ImageFile::kPieceSize, 'A');

INSTANTIATE_TEST_SUITE_P(
    Rows, FpgaTextTest,
    ::testing::Values(FpgaTextRow{"TwoBlocksAndALineEnd", "1f" + std::string(126, 'A') + "\r\n", std::nullopt, 2, 0xAA},
                      FpgaTextRow{"LastBlockFilledUp", "1FAAAA \n", std::nullopt, 1, 0xFF},
                      FpgaTextRow{"ThreePieces", kLong + std::string(ImageFile::kPieceSize, '\n'), std::nullopt,
                                  (kLong.size() / 2 + 31) / 32, 0xFF},
                      FpgaTextRow{"BlankRunThenADigitInTheNextPiece",
                                  kLong.substr(0, ImageFile::kPieceSize - 2) + "\r\n0", FpgaTextError::NotHexadecimal,
                                  0, 0, "character " + std::to_string(ImageFile::kPieceSize - 1) + " "},
                      FpgaTextRow{"Empty", "", FpgaTextError::Empty},
                      FpgaTextRow{"OnlyBlanksAndLineEnds", " \r\n\t\n", FpgaTextError::Empty},
                      FpgaTextRow{"StrayCharacter", "1F G0", FpgaTextError::NotHexadecimal},
                      FpgaTextRow{"OddDigits", "1F2\r\n", FpgaTextError::OddDigits}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
