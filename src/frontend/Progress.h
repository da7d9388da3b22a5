#pragma once
// The progress rule the window and the command line share: the share of work done, in
// percent, computed in 80-bit extended floating point, held below 100 while the upgrade runs.
#include <cstdint>
#include <optional>
#include <string>

namespace rovenza {

// done / max(total, 1) * 100 in extended precision, capped at 99, truncated toward zero.
int ProgressPosition(std::int64_t total, std::int64_t done);

// The same value computed with integers only, rounding exactly as the x87 extended format
// (64-bit significand, round to nearest, ties to even) does. Used where `long double` is
// narrower than that format.
int ProgressPositionEmulated(std::int64_t total, std::int64_t done);

// "stage... (NN%)", or empty for an empty stage.
std::string ProgressCaption(const std::string& stage, int position);

// The command line's progress lines, sampled from the stage text and the position: a line when
// the stage changes or its percentage reaches the next multiple of `step`. With several
// instruments the count starts again at 0 for the next one before its first stage is named, so
// a drop under an unchanged stage is not shown; the next stage's line shows it.
class ProgressLines {
public:
    explicit ProgressLines(int step = 1) : step_(step > 0 ? step : 1) {}
    std::optional<std::string> next(const std::string& stage, int position);

private:
    int step_;
    std::string stage_;
    int shown_ = -1;  // the multiple of step_ last shown
};

}  // namespace rovenza
