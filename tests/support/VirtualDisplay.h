// A private X display for window tests: Xvfb on a display number it picks itself, stopped when
// the object is destroyed, also when the test fails.
#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"

namespace test {

class VirtualDisplay {
 public:
  // Starts Xvfb with a screen of `width` x `height` and waits until it takes connections;
  // Name() is empty when it could not start.
  VirtualDisplay(int width = 1024, int height = 768);
  ~VirtualDisplay();
  const std::string& Name() const { return name_; }  // e.g. ":93"
  bool Ok() const { return !name_.empty(); }

  // Runs an X client command (xdotool, import, ...) on this display; returns its exit status.
  int Run(const std::string& command, std::string* output = nullptr) const;

 private:
  std::string name_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace test
