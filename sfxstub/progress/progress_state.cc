#include "sfxstub/progress/progress_state.h"

#include "sfxstub/progress/progress.h"

namespace sfx {
namespace {
ProgressState module;
ProgressListener* listener = nullptr;
}  // namespace

void BarFeed::Begin(ProgressBar& bar, int32_t total, uint32_t nowMs) {
  if (total == kTotalUnknown) {
    bar.StartMarquee(kMarqueePeriodMs);
  } else {
    SetTotal(bar, total, nowMs);
  }
}

void BarFeed::SetTotal(ProgressBar& bar, int32_t total, uint32_t nowMs) {
  shift = total < kTotalUnknown ? 1 : 0;
  counted = shown = 0;
  bar.SetRange(static_cast<int32_t>(static_cast<uint32_t>(total) >> shift));
  bar.SetPosition(0);
  updated = true;
  updatedMs = nowMs;
}

void BarFeed::Step(ProgressBar& bar, int32_t bytes, uint32_t nowMs) {
  counted += static_cast<uint32_t>(bytes);
  if (!updated || nowMs - updatedMs >= kRepaintIntervalMs) Show(bar, nowMs);
}

void BarFeed::Tick(ProgressBar& bar, uint32_t nowMs) {
  if (Holding()) Show(bar, nowMs);
}

void BarFeed::Show(ProgressBar& bar, uint32_t nowMs) {
  if (shift == 0) {
    bar.Advance(static_cast<int32_t>(counted - shown));
  } else {
    bar.SetPosition(static_cast<int32_t>(counted >> shift));
  }
  shown = counted;
  updated = true;
  updatedMs = nowMs;
}

ProgressState& ProgressModule() { return module; }

bool RecordStart(ProgressState& state, uint16_t animationId, const char* caption,
                 const ProgressLayout& layout) {
  // The running thread reads these values: a second start changes nothing.
  if (state.thread != nullptr) return false;
  state.animationId = animationId;
  state.caption = caption;
  state.layout = layout;
  state.total.store(kTotalUnknown);
  return true;
}

RunningWindow WithdrawForStop(ProgressState& state) {
  RunningWindow running{state.window.exchange(nullptr), state.thread, state.threadId};
  state.thread = nullptr;
  state.threadId = 0;
  return running;
}

ProgressBar* WithdrawBar(ProgressState& state) { return state.bar.exchange(nullptr); }

ProgressListener* CurrentProgressListener() { return listener; }

void SetProgressListener(ProgressListener* l) { listener = l; }

}  // namespace sfx
