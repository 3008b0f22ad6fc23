#include "sfxstub/platform/list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sfxstub/platform/text.h"

namespace sfx {
namespace {

// Counts live objects, so that a leak or a double destruction shows.
struct Counted {
  static int live;
  int value = 0;
  explicit Counted(int v = 0) : value(v) { ++live; }
  Counted(Counted&& other) noexcept : value(other.value) { ++live; }
  Counted(const Counted&) = delete;
  ~Counted() { --live; }
};
int Counted::live = 0;

TEST(List, GrowsWithMoveOnlyElementsAndDestroysEachOnce) {
  {
    List<Counted> list;
    for (int i = 0; i < 50; ++i) list.push_back(Counted(i));
    EXPECT_EQ(Counted::live, 50);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(list[i].value, i);
    list.resize(10);
    EXPECT_EQ(Counted::live, 10);
    list.resize(12);  // value-initialised
    EXPECT_EQ(list.back().value, 0);
    List<Counted> moved = std::move(list);
    EXPECT_TRUE(list.empty());  // NOLINT: the moved-from state is specified
    EXPECT_EQ(moved.size(), 12u);
    EXPECT_EQ(Counted::live, 12);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST(List, KeepsTextsAcrossGrowth) {
  List<Text> names;
  for (int i = 0; i < 20; ++i) names.push_back(Text(std::string(static_cast<size_t>(i) + 20, 'a' + i)));
  int index = 0;
  for (const Text& name : names) {
    EXPECT_EQ(name.size(), static_cast<size_t>(index) + 20);
    EXPECT_EQ(name[0], 'a' + index);
    ++index;
  }
  List<uint8_t> bytes;
  bytes.resize(1000);
  int nonZero = 0;
  for (uint8_t b : bytes) nonZero += b != 0;
  EXPECT_EQ(nonZero, 0);
}

}  // namespace
}  // namespace sfx
