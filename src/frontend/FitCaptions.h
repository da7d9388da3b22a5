#pragma once
// Fitting a form's captions to the font it is drawn with: a substitute for a missing Tahoma, or
// another Tahoma, may be wider than the one the forms were laid out with. Toolkit-free: each
// window front end measures its controls and applies the result.
#include <vector>

namespace rovenza {

// A control as laid out, with the width its caption has (room) and needs (0: no caption).
struct FitBox {
    int left, top, width, height;
    int room = 0;
    int needed = 0;
};

// Every control that lacks room grows to the right, never shrinking; a control that lay to the
// right of a grown one on the same band moves right as far as needed to keep its gap (at most
// kFitGap pixels of it); the form widens when a control then passes its right margin (at most
// kFitMargin pixels of it). Returns the form's width. When every caption fits nothing moves.
inline constexpr int kFitGap = 4;
inline constexpr int kFitMargin = 8;
int FitCaptions(std::vector<FitBox>& boxes, int formWidth);

}  // namespace rovenza
