#include "sfxstub/progress/progress_bar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/progress/progress_bar_recorder.h"

namespace sfx {
namespace {

using test::BarRecorder;
using Calls = std::vector<std::string>;

TEST(ProgressBarTest, RangeThenAdvancesSendTheRunningSum) {
  BarRecorder control;
  ProgressBar bar(control);
  bar.SetRange(1000);
  for (int i = 0; i < 4; ++i) bar.Advance(250);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 1000", "SETPOS 250 0", "SETPOS 500 0", "SETPOS 750 0",
                                  "SETPOS 1000 0"}));
  EXPECT_EQ(bar.Position(), 1000);
  EXPECT_EQ(bar.Maximum(), 1000);
}

TEST(ProgressBarTest, MarqueeStartsOnceAndEndsWithThePosition) {
  BarRecorder control;
  ProgressBar bar(control);
  bar.StartMarquee(100);
  EXPECT_EQ(bar.Flags(), ProgressBar::kMarqueeRuns);
  bar.StartMarquee(30);  // the style is there already: nothing, not even the new period
  bar.SetPosition(7);
  EXPECT_EQ(control.calls, (Calls{"style +MARQUEE", "SETMARQUEE 1 100", "style -MARQUEE", "SETMARQUEE 0 0",
                                  "SETPOS 7 0"}));
  EXPECT_EQ(bar.Flags(), 0u);
  EXPECT_EQ(control.style, BarRecorder::kInitialStyle) << "other style bits are kept";
}

TEST(ProgressBarTest, StopWithoutTheMarqueeStyleSendsNothing) {
  BarRecorder control;
  ProgressBar bar(control);
  bar.StopMarquee();
  EXPECT_TRUE(control.calls.empty());
}

TEST(ProgressBarTest, TheWindowsStyleDecidesNotTheFlag) {
  // A control that already shows the marquee (its style says so) is not told again, and one whose
  // style lost it is not told to stop, whatever the object's flag says.
  BarRecorder control;
  control.style |= kBarMarqueeStyle;
  ProgressBar bar(control);
  bar.StartMarquee(100);
  EXPECT_TRUE(control.calls.empty());
  EXPECT_EQ(bar.Flags(), ProgressBar::kMarqueeRuns);
  control.style &= ~kBarMarqueeStyle;
  bar.StopMarquee();
  EXPECT_TRUE(control.calls.empty());
  EXPECT_EQ(bar.Flags(), 0u);
}

TEST(ProgressBarTest, RangeLeavesTheMarqueeAndAdvanceEndsIt) {
  BarRecorder control;
  ProgressBar bar(control);
  bar.StartMarquee(100);
  control.calls.clear();
  bar.SetRange(50);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 50"}));
  EXPECT_EQ(bar.Flags(), ProgressBar::kMarqueeRuns);
  bar.Advance(20);
  EXPECT_EQ(control.calls, (Calls{"SETRANGE32 0 50", "style -MARQUEE", "SETMARQUEE 0 0", "SETPOS 20 0"}));
}

TEST(ProgressBarTest, AdvanceWrapsLikeA32BitRegister) {
  BarRecorder control;
  ProgressBar bar(control);
  bar.SetPosition(INT32_MAX);
  bar.Advance(1);
  EXPECT_EQ(bar.Position(), INT32_MIN);
  EXPECT_EQ(control.calls.back(), "SETPOS 2147483648 0");
}

}  // namespace
}  // namespace sfx
