// Where there is no Win32 user interface (the packaging tool on Linux), no window runs: the
// operations only pass the reports on to a listener.
#include "sfxstub/progress/progress.h"
#include "sfxstub/progress/progress_state.h"

namespace sfx {

int32_t ProgressStart(uint16_t, const char*, int32_t, int32_t, int32_t, int32_t) { return 0; }

void ProgressSetTotal(int32_t total) {
  if (ProgressListener* listener = CurrentProgressListener()) listener->OnSetTotal(total);
}

void ProgressStep(int32_t bytes) {
  if (ProgressListener* listener = CurrentProgressListener()) listener->OnStep(bytes);
}

void ProgressStop() {}

}  // namespace sfx
