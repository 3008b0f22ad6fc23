// The retry policy shared by the copy and the delete: at most kRetryAttempts attempts, and a pause
// of kRetryPauseMs after every failed one, the last included, so a file that never yields costs about
// two seconds whatever the reason (a missing file is retried like a locked one).
#ifndef SFXSTUB_PLATFORM_RETRY_H_
#define SFXSTUB_PLATFORM_RETRY_H_

#include <cstdint>

namespace sfx {

constexpr int kRetryAttempts = 10;
constexpr uint32_t kRetryPauseMs = 200;

// Calls attempt() until it returns true, at most kRetryAttempts times, and pause(kRetryPauseMs)
// after each false. Returns whether an attempt succeeded.
template <typename Attempt, typename Pause>
bool RetryAttempts(Attempt&& attempt, Pause&& pause) {
  for (int i = 0; i < kRetryAttempts; ++i) {
    if (attempt()) return true;
    pause(kRetryPauseMs);
  }
  return false;
}

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_RETRY_H_
