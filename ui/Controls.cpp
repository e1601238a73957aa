#include "ui/Controls.h"

namespace ui {

namespace {
// Average advance of the form's 8-point sans-serif face at 96 dpi, in pixels.
constexpr int kAverageCharWidth = 6;
}  // namespace

int EstimatedTextWidth(const std::string& text) { return int(text.size()) * kAverageCharWidth; }

Bounds AutoSizedBounds(const LabelSpec& spec, int textWidth) {
  Bounds b = spec.bounds;
  if (spec.alignment == Alignment::Right) {
    int right = spec.bounds.right();
    b.width = textWidth;
    b.left = right - textWidth;
  } else {
    b.width = textWidth;
  }
  return b;
}

}  // namespace ui
