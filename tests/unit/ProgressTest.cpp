// The progress rule, and the integer emulation of extended precision used where
// `long double` is narrower, checked against the native extended arithmetic.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>
#include <random>

#include "frontend/Progress.h"

namespace rovenza {
namespace {

TEST(ProgressTest, PositionRule) {
    struct Case {
        std::int64_t total, done;
        int position;
    } cases[] = {
        {5058, 0, 0}, {5058, 5058, 99}, {0, 0, 0},   {0, 1, 99},   {1, 3, 99},  {3, 1, 33},
        {3, 2, 66},   {-5, 1, 99},      {963, 962, 99}, {5058, 2529, 50}, {100, 29, 29}, {3, -1, -33},
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max() - 1, 99},
        {std::numeric_limits<std::int64_t>::max(), 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressPosition(c.total, c.done), c.position) << c.done << " of " << c.total;
        EXPECT_EQ(ProgressPositionEmulated(c.total, c.done), c.position) << c.done << " of " << c.total;
    }
}

TEST(ProgressTest, CaptionRule) {
    EXPECT_EQ(ProgressCaption("USB Pic uploading", 50), "USB Pic uploading... (50%)");
    EXPECT_EQ(ProgressCaption("Uploading", 0), "Uploading... (0%)");
    EXPECT_EQ(ProgressCaption("", 50), "");
}

#if LDBL_MANT_DIG == 64
// The emulation must agree with the x87 format bit for bit, including the cases where the
// rounded quotient times 100 lands just beside a whole number.
TEST(ProgressTest, CommandLineLinesStartAgainWithEachInstrument) {
    ProgressLines lines;
    struct Sample {
        const char* stage;
        int position;
        const char* line;  // nullptr: no line
    };
    for (const Sample& s : {Sample{"", 0, nullptr}, Sample{"Device 1/2 - FPGA uploading", 40, "Device 1/2 - FPGA uploading... (40%)"},
                            Sample{"Device 1/2 - FPGA uploading", 40, nullptr},
                            Sample{"Device 1/2 - FPGA uploading", 99, "Device 1/2 - FPGA uploading... (99%)"},
                            Sample{"Device 1/2 - FPGA uploading", 0, nullptr},  // the next instrument's count
                            Sample{"Device 2/2 - USB Pic uploading", 0, "Device 2/2 - USB Pic uploading... (0%)"},
                            Sample{"Device 2/2 - USB Pic uploading", 3, "Device 2/2 - USB Pic uploading... (3%)"}}) {
        const auto line = lines.next(s.stage, s.position);
        if (s.line == nullptr) {
            EXPECT_FALSE(line.has_value()) << s.stage << " " << s.position;
        } else {
            EXPECT_EQ(line.value_or("(none)"), s.line);
        }
    }
    // One line per step of 10 %: a jump over several steps gives one line.
    ProgressLines tens(10);
    for (const Sample& s : {Sample{"Uploading", 0, "Uploading... (0%)"}, Sample{"Uploading", 9, nullptr},
                            Sample{"Uploading", 10, "Uploading... (10%)"}, Sample{"Uploading", 19, nullptr},
                            Sample{"Uploading", 47, "Uploading... (47%)"}, Sample{"Uploading", 49, nullptr},
                            Sample{"Uploading", 50, "Uploading... (50%)"}, Sample{"FPGA uploading", 3, "FPGA uploading... (3%)"}}) {
        EXPECT_EQ(tens.next(s.stage, s.position), s.line ? std::optional<std::string>(s.line) : std::nullopt)
            << s.stage << " " << s.position;
    }
}

TEST(ProgressTest, EmulationAgreesWithExtendedPrecision) {
    std::mt19937_64 random(20261208);
    auto check = [](std::int64_t total, std::int64_t done) {
        ASSERT_EQ(ProgressPositionEmulated(total, done), ProgressPosition(total, done)) << done << " of " << total;
    };
    for (std::int64_t total = 1; total <= 1200; ++total)
        for (std::int64_t done = -2; done <= total + 2; ++done) check(total, done);
    for (int i = 0; i < 200000; ++i) {
        const int bits = static_cast<int>(random() % 63) + 1;
        const std::int64_t total = static_cast<std::int64_t>(random() >> (64 - bits));
        const std::int64_t done = static_cast<std::int64_t>(random() % (static_cast<std::uint64_t>(total) + 2));
        check(total, done);
    }
}
#endif

}  // namespace
}  // namespace rovenza
