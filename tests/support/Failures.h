// Reading the failure an action raises, for tests that check messages byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace test {

// The message of the `E` that `action` raises; an empty text (and a test failure) when it
// raises nothing.
template <class E, class F>
std::string MessageOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message;
  }
  ADD_FAILURE() << "no exception of the expected class";
  return {};
}

}  // namespace test
