#include "frontend/FitCaptions.h"

#include <algorithm>
#include <numeric>

namespace rovenza {

int FitCaptions(std::vector<FitBox>& boxes, int formWidth) {
    const std::vector<FitBox> before = boxes;
    for (FitBox& box : boxes) box.width += std::max(0, box.needed - box.room);

    // Left to right by the layout's positions, so that a control has found its place before the
    // controls on its right are placed after it.
    std::vector<std::size_t> order(boxes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return before[a].left < before[b].left; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        const FitBox& left = before[order[i]];
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            const FitBox& right = before[order[j]];
            const bool sameBand = left.top < right.top + right.height && right.top < left.top + left.height;
            if (!sameBand || right.left < left.left + left.width) continue;
            const int gap = std::min(right.left - (left.left + left.width), kFitGap);
            const int wanted = boxes[order[i]].left + boxes[order[i]].width + gap;
            boxes[order[j]].left = std::max(boxes[order[j]].left, wanted);
        }
    }

    int width = formWidth;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const int margin = std::clamp(formWidth - (before[i].left + before[i].width), 0, kFitMargin);
        width = std::max(width, boxes[i].left + boxes[i].width + margin);
    }
    return width;
}

}  // namespace rovenza
