// The controls of a form as the window-system layer offers them: what the program's code may
// read and change. Each front-end (FLTK, console, recording) implements them.
//
// All texts are Windows-1252 bytes; a front-end converts them only where they meet the
// toolkit or the terminal.
#pragma once

#include <functional>
#include <string>

namespace ui {

struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
};

enum class Alignment { Left, Right };

// A label that sizes itself to its text. With Left alignment the left edge stays where it is
// and the label grows to the right; with Right alignment the right edge stays and it grows to
// the left.
struct LabelLayout {
  std::string name;
  Bounds bounds;
  std::string caption;
  Alignment alignment = Alignment::Left;
  // The label tells how far the form's progress bar has come (a row counter, say); a
  // front-end may show it together with the bar rather than on its own.
  bool describesProgress = false;
};

struct ButtonLayout {
  std::string name;
  Bounds bounds;
  std::string caption;
  int tabOrder = 0;
};

// A smooth progress bar with the range 0..max.
struct ProgressBarLayout {
  std::string name;
  Bounds bounds;
  int min = 0;
  int max = 100;
  int position = 0;
  int tabOrder = 0;
};

class Label {
 public:
  virtual ~Label() = default;
  virtual void SetCaption(const std::string& text) = 0;
  virtual const std::string& Caption() const = 0;
  virtual Bounds GetBounds() const = 0;
};

class Button {
 public:
  virtual ~Button() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual const std::string& Caption() const = 0;
};

class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void SetMax(int max) = 0;
  virtual void SetPosition(int position) = 0;
  virtual int Max() const = 0;
  virtual int Position() const = 0;
};

// Width in pixels of a label's text in the form's font, for front-ends without a toolkit to
// measure with: the average character width of an 8-point sans-serif face at 96 dpi.
int EstimatedTextWidth(const std::string& text);

// The bounds of a self-sizing label once its text measures `textWidth` pixels.
Bounds AutoSizedBounds(const LabelLayout& layout, int textWidth);

}  // namespace ui
