#include "sfxstub/progress/progress_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/progress/progress_bar_recorder.h"

namespace sfx {
namespace {

using test::BarRecorder;
using Calls = std::vector<std::string>;

constexpr uint32_t kLater = BarFeed::kRepaintIntervalMs;  // far enough apart to be shown at once

TEST(BarFeedTest, UnknownTotalStartsTheMarquee) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.Begin(bar, kTotalUnknown, 0);
  EXPECT_EQ(control.calls, (Calls{"style +MARQUEE", "SETMARQUEE 1 100"}));
}

TEST(BarFeedTest, TotalRecordedBeforeTheBarIsAppliedWithoutMarquee) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.Begin(bar, 5000, 0);
  feed.Step(bar, 1200, kLater);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 5000", "SETPOS 0 0", "SETPOS 1200 0"}));
  EXPECT_EQ(control.style & kBarMarqueeStyle, 0u);
}

TEST(BarFeedTest, TotalEndsTheMarqueeAndStepsFillTheBar) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.Begin(bar, kTotalUnknown, 0);
  control.calls.clear();
  feed.SetTotal(bar, 60, 1000);
  uint32_t now = 1000;
  for (int32_t bytes : {10, 20, 30}) feed.Step(bar, bytes, now += kLater);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 60", "style -MARQUEE", "SETMARQUEE 0 0", "SETPOS 0 0",
                                  "SETPOS 10 0", "SETPOS 30 0", "SETPOS 60 0"}));
}

TEST(BarFeedTest, FirstStepDuringTheMarqueeEndsItAtOnce) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.Begin(bar, kTotalUnknown, 500);
  control.calls.clear();
  feed.Step(bar, 42, 501);
  EXPECT_EQ(control.calls, (Calls{"style -MARQUEE", "SETMARQUEE 0 0", "SETPOS 42 0"}));
}

TEST(BarFeedTest, StepsInQuickSuccessionAreAddedUpUntilTheTick) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.SetTotal(bar, 1000, 0);
  control.calls.clear();
  feed.Step(bar, 100, kLater - 1);  // the total was shown just before: held
  feed.Step(bar, 200, kLater - 1);
  EXPECT_TRUE(control.calls.empty());
  EXPECT_TRUE(feed.Holding());
  feed.Tick(bar, kLater + 5);
  feed.Tick(bar, kLater + 6);  // nothing held any more
  EXPECT_EQ(control.calls, (Calls{"SETPOS 300 0"}));
  EXPECT_FALSE(feed.Holding());
  // The interval counts from the last update, across the wrap of the millisecond clock.
  BarFeed wrapping;
  wrapping.SetTotal(bar, 1000, 0xFFFFFFF0u);
  control.calls.clear();
  wrapping.Step(bar, 1, 0x10);
  wrapping.Step(bar, 2, 0xFFFFFFF0u + kLater);
  EXPECT_EQ(control.calls, (Calls{"SETPOS 3 0"}));
}

TEST(BarFeedTest, NewTotalDropsHeldSteps) {
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  feed.SetTotal(bar, 1000, 0);
  feed.Step(bar, 700, 1);
  feed.SetTotal(bar, 50, 2);
  control.calls.clear();
  feed.Tick(bar, 3);
  feed.Step(bar, 50, 2 + kLater);
  EXPECT_EQ(control.calls, (Calls{"SETPOS 50 0"}));
}

TEST(BarFeedTest, TotalsFromTwoGibibytesAreShownAtHalfScale) {
  // 3 GiB arrives as a negative 32-bit count; the control's range is signed, so the bar counts halves.
  BarRecorder control;
  ProgressBar bar(control);
  BarFeed feed;
  const uint32_t gib = 1u << 30;
  feed.SetTotal(bar, static_cast<int32_t>(3 * gib), 0);
  uint32_t now = 0;
  for (int i = 0; i < 3; ++i) feed.Step(bar, static_cast<int32_t>(gib), now += kLater);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 1610612736", "SETPOS 0 0", "SETPOS 536870912 0",
                                  "SETPOS 1073741824 0", "SETPOS 1610612736 0"}));
  // A later total below 2 GiB counts at full scale again.
  control.calls.clear();
  feed.SetTotal(bar, 100, now += kLater);
  feed.Step(bar, 100, now += kLater);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 100", "SETPOS 0 0", "SETPOS 100 0"}));
}

TEST(ProgressStateTest, StartRecordsOnlyWhileNoThreadRuns) {
  ProgressState state;
  const char* caption = "Setup";
  state.total.store(123);
  ASSERT_TRUE(RecordStart(state, 129, caption, ProgressLayout{6, 6, 0, 15}));
  EXPECT_EQ(state.animationId, 129);
  EXPECT_EQ(state.caption, caption);
  EXPECT_EQ(state.layout.margin, 6);
  EXPECT_EQ(state.layout.barHeight, 15);
  EXPECT_EQ(state.total.load(), kTotalUnknown);

  int dummyThread = 0;
  state.thread = &dummyThread;
  state.total.store(500);
  EXPECT_FALSE(RecordStart(state, 7, "Other", ProgressLayout{1, 2, 3, 4}));
  EXPECT_EQ(state.animationId, 129) << "a running thread reads these";
  EXPECT_EQ(state.caption, caption);
  EXPECT_EQ(state.layout.margin, 6);
  EXPECT_EQ(state.total.load(), 500);
}

TEST(ProgressStateTest, StopTakesWindowAndThreadOnce) {
  ProgressState state;
  int window = 0, thread = 0;
  state.window.store(&window);
  state.thread = &thread;
  state.threadId = 77;
  state.total.store(900);
  RunningWindow first = WithdrawForStop(state);
  EXPECT_EQ(first.window, &window);
  EXPECT_EQ(first.thread, &thread);
  EXPECT_EQ(first.threadId, 77u);
  RunningWindow second = WithdrawForStop(state);
  EXPECT_EQ(second.window, nullptr);
  EXPECT_EQ(second.thread, nullptr);
  EXPECT_EQ(state.total.load(), 900) << "the total is not touched";
  // With the thread gone, a new start is possible again.
  EXPECT_TRUE(RecordStart(state, 129, "Setup", ProgressLayout{6, 6, 0, 15}));
}

TEST(ProgressStateTest, BarIsWithdrawnBeforeItIsDeleted) {
  ProgressState state;
  BarRecorder control;
  ProgressBar* bar = new ProgressBar(control);
  state.bar.store(bar);
  ProgressBar* taken = WithdrawBar(state);
  EXPECT_EQ(taken, bar);
  EXPECT_EQ(state.bar.load(), nullptr) << "nobody can reach the object being deleted";
  EXPECT_EQ(WithdrawBar(state), nullptr);
  delete taken;
}

}  // namespace
}  // namespace sfx
