// Reading the failure an action raises, for tests that check messages byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <utility>

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

// The `E` that `action` raises; when it raises nothing, a test failure and an `E` made from
// `fallback`.
template <class E, class F, class... A>
E FailureOf(F&& action, A&&... fallback) {
  try {
    action();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "no exception of the expected class";
  return E(std::forward<A>(fallback)...);
}

// The `E` that `action` raises; when it raises nothing, a test failure and an `E` with an empty
// message (for failures made from their message alone).
template <class E, class F>
E ErrorOf(F&& action) {
  return FailureOf<E>(std::forward<F>(action), std::string());
}

// The message of the `E` that `action` raises, which must be an `E` itself and not of a class
// derived from it; an empty text (and a test failure) otherwise.
template <class E, class F>
std::string ExactMessageOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    if (typeid(e) == typeid(E)) return e.Message;
    ADD_FAILURE() << "an exception of a class derived from the expected one: " << e.Message;
    return {};
  }
  ADD_FAILURE() << "no exception of the expected class";
  return {};
}

}  // namespace test
