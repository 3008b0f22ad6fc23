// The progress module's state and the decisions taken on it, kept apart from the window system so
// that they are tested on their own. Handles are opaque here (void*); the Windows side stores its
// HINSTANCE, HANDLE and HWND in them.
//
// Threads: the main thread calls every progress operation; the UI thread owns the window, its
// children and the bar object. The main thread never touches the bar object: it records the total
// and sends it to the window, and adds its byte counts to pendingBytes, which the window's frame
// timer takes; both are applied to the bar (BarFeed) on the UI thread. So the bar is created, used,
// withdrawn and deleted on one thread only.
#ifndef SFXSTUB_PROGRESS_PROGRESS_STATE_H_
#define SFXSTUB_PROGRESS_PROGRESS_STATE_H_

#include <atomic>
#include <cstdint>

#include "sfxstub/progress/progress_bar.h"
#include "sfxstub/progress/progress_layout.h"

namespace sfx {

// Values of the recorded total with a meaning of their own.
constexpr int32_t kTotalUnknown = -1;  // the bar shows the marquee
constexpr int32_t kTotalNoBar = 0;     // the window is built without a bar

constexpr uint32_t kMarqueePeriodMs = 100;

// Applies the extraction's byte counts to the bar; UI thread only. Totals of 2 GiB and more (negative
// as 32-bit signed values, but for -1) are shown at half scale, since the control's range is signed.
//
// A repaint of the bar costs the window system far more than taking a count. So steps that come
// within kRepaintIntervalMs of the bar's last update are held and added up; Tick, called by the
// window's frame timer, applies them.
class BarFeed {
 public:
  static constexpr uint32_t kRepaintIntervalMs = 100;

  // Right after the bar is created: the marquee while the total is unknown, else the total recorded
  // so far.
  void Begin(ProgressBar& bar, int32_t total, uint32_t nowMs);
  // The range 0..total and the position 0, at once; ends the marquee. Drops held steps.
  void SetTotal(ProgressBar& bar, int32_t total, uint32_t nowMs);
  // One file of bytes written. Moves the bar (and ends the marquee) at once unless the bar was
  // updated less than kRepaintIntervalMs ago.
  void Step(ProgressBar& bar, int32_t bytes, uint32_t nowMs);
  // Applies the held steps, if any.
  void Tick(ProgressBar& bar, uint32_t nowMs);

  bool Holding() const { return counted != shown; }

 private:
  void Show(ProgressBar& bar, uint32_t nowMs);

  uint32_t shift = 0;
  uint32_t counted = 0;  // bytes reported since the total
  uint32_t shown = 0;    // of those, the bytes the bar shows
  bool updated = false;
  uint32_t updatedMs = 0;
};

struct ProgressState {
  // Written by ProgressStart before the UI thread exists, then only read by it (but for the derived
  // bar width, which the UI thread records).
  uint16_t animationId = 0;
  const char* caption = nullptr;
  ProgressLayout layout = {};
  // The module that holds the window class, the icon and the clip.
  void* instance = nullptr;
  std::atomic<int32_t> total{kTotalUnknown};
  // The UI thread; main thread only.
  void* thread = nullptr;
  uint32_t threadId = 0;
  // The progress window: published by the UI thread as soon as it exists, withdrawn when it is
  // destroyed or stopped.
  std::atomic<void*> window{nullptr};
  // UI thread only; withdrawn (set to null) before the object is deleted.
  std::atomic<ProgressBar*> bar{nullptr};
  // Bytes the main thread reported while a window runs, not yet taken by the UI thread's timer.
  std::atomic<uint32_t> pendingBytes{0};
  BarFeed feed;
};

// The one instance of the process.
ProgressState& ProgressModule();

// ProgressStart's bookkeeping. With no UI thread recorded: records the values and the unknown total
// and returns true (a thread is to be created). Otherwise changes nothing and returns false.
bool RecordStart(ProgressState& state, uint16_t animationId, const char* caption,
                 const ProgressLayout& layout);

// What ProgressStop has to end, taken out of the state so that a second stop finds nothing.
struct RunningWindow {
  void* window;
  void* thread;
  uint32_t threadId;
};
RunningWindow WithdrawForStop(ProgressState& state);

// The bar object taken out of the state, for deletion; null when none is published.
ProgressBar* WithdrawBar(ProgressState& state);

// The listener of progress.h, if any.
class ProgressListener;
ProgressListener* CurrentProgressListener();

}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_STATE_H_
