#include "sfxstub/platform/retry.h"

#include <gtest/gtest.h>

#include <vector>

namespace sfx {
namespace {

struct Trace {
  int attempts = 0;
  std::vector<uint32_t> pauses;
};

// Runs RetryAttempts with an operation that succeeds on attempt succeedOn (0: never).
bool RunRetry(int succeedOn, Trace* trace) {
  return RetryAttempts([&] { return ++trace->attempts == succeedOn; },
                       [&](uint32_t ms) { trace->pauses.push_back(ms); });
}

TEST(RetryAttempts, TenAttemptsWithAPauseAfterEachFailureTheLastIncluded) {
  Trace trace;
  EXPECT_FALSE(RunRetry(0, &trace));
  EXPECT_EQ(trace.attempts, 10);
  EXPECT_EQ(trace.pauses, std::vector<uint32_t>(10, 200));
}

TEST(RetryAttempts, StopsAtTheFirstSuccess) {
  const int succeedOn[] = {1, 3, 10};
  for (int n : succeedOn) {
    Trace trace;
    EXPECT_TRUE(RunRetry(n, &trace));
    EXPECT_EQ(trace.attempts, n);
    EXPECT_EQ(trace.pauses.size(), static_cast<size_t>(n - 1));
  }
}

}  // namespace
}  // namespace sfx
