#include "sfxstub/progress/progress_layout.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

constexpr ProgressLayout kDefaults{6, 6, 0, 15};
constexpr Size kShippedClip{260, 40};

void ExpectBox(const Box& box, int32_t x, int32_t y, int32_t width, int32_t height) {
  EXPECT_EQ(box.x, x);
  EXPECT_EQ(box.y, y);
  EXPECT_EQ(box.width, width);
  EXPECT_EQ(box.height, height);
}

TEST(ProgressLayoutTest, ShippedClipWithDefaults) {
  Box animation = AnimationBox(kDefaults, kShippedClip);
  ExpectBox(animation, 6, 6, 260, 40);
  Box bar = BarBox(kDefaults, animation);
  ExpectBox(bar, 6, 52, 260, 15);

  for (Size frame : {Size{4, 4}, Size{8, 8}, Size{3, 5}, Size{0, 0}}) {
    Size barSize{bar.width, bar.height};
    Size outer = OuterSize(kDefaults, kShippedClip, &barSize, frame);
    EXPECT_EQ(outer.width, 274 + frame.width) << frame.width;
    EXPECT_EQ(outer.height, 75 + frame.height) << frame.height;
  }
}

TEST(ProgressLayoutTest, WithoutABarTheWindowHoldsOnlyTheAnimation) {
  Size outer = OuterSize(kDefaults, kShippedClip, nullptr, Size{4, 6});
  EXPECT_EQ(outer.width, 272 + 4);
  EXPECT_EQ(outer.height, 40 + 6);
}

TEST(ProgressLayoutTest, BarWidthIsDerivedOnlyWhenZero) {
  struct Case {
    ProgressLayout layout;
    Size clip;
    int32_t barX, barY, barWidth;
    int32_t outerWidth, outerHeight;  // with a 4 by 4 frame
  };
  const Case cases[] = {
      // an explicit width wider than the animation decides the window's width
      {{6, 4, 300, 15}, kShippedClip, 4, 50, 300, 308 + 6, 40 + 15 + 6 + 8 + 6},
      // an explicit width narrower than the animation does not
      {{6, 6, 100, 20}, kShippedClip, 6, 52, 100, 272 + 6, 40 + 20 + 6 + 12 + 6},
      // an inset wider than the margin makes the derived bar narrower than the animation
      {{2, 6, 0, 15}, kShippedClip, 6, 48, 252, 264 + 6, 40 + 15 + 2 + 12 + 6},
      // no clip: the animation stays 0 by 0 and so does the derived width
      {kDefaults, Size{0, 0}, 6, 12, 0, 12 + 6, 15 + 6 + 12 + 6},
  };
  for (const Case& c : cases) {
    Box animation = AnimationBox(c.layout, c.clip);
    Box bar = BarBox(c.layout, animation);
    EXPECT_EQ(bar.x, c.barX);
    EXPECT_EQ(bar.y, c.barY);
    EXPECT_EQ(bar.width, c.barWidth);
    EXPECT_EQ(bar.height, c.layout.barHeight);
    Size barSize{bar.width, bar.height};
    Size outer = OuterSize(c.layout, c.clip, &barSize, Size{4, 4});
    EXPECT_EQ(outer.width, c.outerWidth) << c.barWidth;
    EXPECT_EQ(outer.height, c.outerHeight) << c.barWidth;
  }
}

TEST(ProgressLayoutTest, CentringHalvesScreenAndClientSeparately) {
  struct Case {
    Size screen, client;
    Point origin;
  };
  const Case cases[] = {
      {{1024, 768}, {266, 67}, {512 - 133, 384 - 33}},
      {{1025, 769}, {267, 68}, {512 - 133, 384 - 34}},  // each half truncated on its own
      {{1920, 1080}, {272, 40}, {824, 520}},
      {{200, 50}, {301, 71}, {100 - 150, 25 - 35}},  // larger than the screen: off its edges
  };
  for (const Case& c : cases) {
    Point origin = CentredOrigin(c.screen, c.client);
    EXPECT_EQ(origin.x, c.origin.x) << c.screen.width << " " << c.client.width;
    EXPECT_EQ(origin.y, c.origin.y) << c.screen.height << " " << c.client.height;
  }
}

}  // namespace
}  // namespace sfx
