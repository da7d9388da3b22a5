// The caption fitting rule both window front ends lay their forms out by.
#include <gtest/gtest.h>

#include <vector>

#include "frontend/FitCaptions.h"

namespace rovenza {
namespace {

struct Box {
    int left, width;
    bool operator==(const Box&) const = default;
};

TEST(FitCaptions, GrownLabelsPushTheirBandAndWidenTheForm) {
    // The module type dialog's second band: a label, a combo box 6 px on, a button 6 px on.
    const std::vector<FitBox> band{{8, 31, 174, 13, 174, 0}, {188, 28, 145, 21}, {339, 26, 75, 25}};
    struct Row {
        const char* what;
        int needed;             // the label's caption width
        std::vector<FitBox> extra;
        std::vector<Box> placed;
        int width;
    } rows[] = {
        {"fits: nothing moves", 170, {}, {{8, 174}, {188, 145}, {339, 75}}, 422},
        {"exactly fits", 174, {}, {{8, 174}, {188, 145}, {339, 75}}, 422},
        // 4 px of the 6 px gaps are kept; the 8 px right margin is kept.
        {"15 px wider", 189, {}, {{8, 189}, {201, 145}, {350, 75}}, 433},
        {"a narrow growth stays within the gap", 176, {}, {{8, 176}, {188, 145}, {339, 75}}, 422},
        // A control on another band never moves for it.
        {"other band", 189, {{200, 5, 20, 13}}, {{8, 189}, {201, 145}, {350, 75}, {200, 20}}, 433},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<FitBox> boxes = band;
        boxes[0].needed = row.needed;
        boxes.insert(boxes.end(), row.extra.begin(), row.extra.end());
        EXPECT_EQ(FitCaptions(boxes, 422), row.width);
        std::vector<Box> placed;
        for (const FitBox& b : boxes) placed.push_back({b.left, b.width});
        EXPECT_EQ(placed, row.placed);
    }
}

}  // namespace
}  // namespace rovenza
