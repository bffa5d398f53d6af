// The status window and the dialog keep process-wide state that is never
// reset (the cancelled flag, the request counter), so each case runs in a
// child process of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace kavtest {

inline void runAndExit(const std::function<void()> &body) {
  body();
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}

}  // namespace kavtest

#define KAV_IN_FRESH_PROCESS(...) \
  EXPECT_EXIT(::kavtest::runAndExit(__VA_ARGS__), ::testing::ExitedWithCode(0), "")
