#include "ui/Controls.h"

namespace ui {

namespace {
// Average advance of the form's 8-point sans-serif face at 96 dpi, in pixels.
constexpr int kAverageCharWidth = 6;
}  // namespace

int EstimatedTextWidth(const std::string& text) {
  return int(text.size()) * kAverageCharWidth;
}

Bounds AutoSizedBounds(const LabelLayout& layout, int textWidth) {
  Bounds b = layout.bounds;
  if (layout.alignment == Alignment::Right) {
    int right = layout.bounds.right();
    b.width = textWidth;
    b.left = right - textWidth;
  } else {
    b.width = textWidth;
  }
  return b;
}

}  // namespace ui
