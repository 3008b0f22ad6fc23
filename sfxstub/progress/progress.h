// The progress operations the rest of the program calls. Portable: the extraction calls them on every
// platform, and each one is a harmless no-op when no window runs. The window itself (Windows only) is
// in progress_window.h.
#ifndef SFXSTUB_PROGRESS_PROGRESS_H_
#define SFXSTUB_PROGRESS_PROGRESS_H_

#include <cstdint>

namespace sfx {

int32_t ProgressStart(uint16_t animationId, const char* caption, int32_t margin, int32_t barInset,
                      int32_t barWidth, int32_t barHeight);
// total: the sum of the sizes of all files the extraction is about to write.
void ProgressSetTotal(int32_t total);
// bytes: the size of one file just written completely.
void ProgressStep(int32_t bytes);
// Ends the window and its thread, waiting up to 3 s for the thread; one still running then is left
// to end with the process, never killed. Safe any number of times, also when nothing was started.
void ProgressStop();

// Sees every ProgressSetTotal and ProgressStep, with or without a window, so that tests can follow
// the extraction's reports. Null by default; set it from the thread that reports.
class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  virtual void OnSetTotal(int32_t total) = 0;
  virtual void OnStep(int32_t bytes) = 0;
};
void SetProgressListener(ProgressListener* listener);

}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_H_
