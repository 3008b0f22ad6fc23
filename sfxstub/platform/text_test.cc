#include "sfxstub/platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Str;

TEST(Text, AppendsAcrossGrowthAndFromItsOwnBytes) {
  Text text;
  EXPECT_STREQ(text.c_str(), "");  // never null, even before anything is stored
  std::string expected;
  for (int i = 0; i < 100; ++i) {  // several reallocations
    text += static_cast<char>('a' + i % 26);
    expected += static_cast<char>('a' + i % 26);
  }
  // The source lies in the buffer the growth moves.
  text.append(text.data() + 10, 90);
  expected.append(expected.data() + 10, 90);
  EXPECT_EQ(Str(text), expected);
  EXPECT_EQ(text.c_str()[text.size()], '\0');
  text.assign(text.data(), 3);  // its own head
  EXPECT_EQ(text, "abc");
  Text bytes("a\0b", 3);  // embedded zero bytes are kept
  EXPECT_EQ(bytes.size(), 3u);
  EXPECT_NE(bytes, "a");
  EXPECT_EQ(Text(nullptr), "");
}

TEST(Text, SearchesCutsAndReplacesLikeStandardStrings) {
  struct Case {
    const char* text;
    size_t at;
    size_t count;
    const char* with;
  };
  const Case cases[] = {
      {"hello world", 0, 5, "bye"}, {"hello world", 6, 5, ""},
      {"hello", 5, 0, "!!"},        {"", 0, 0, "x"},
      {"a.b.c", 1, 1, "..."},       {"abc", 0, 3, "abcdefghijklmnopq"},
  };
  for (const Case& c : cases) {
    Text text = c.text;
    std::string standard = c.text;
    text.replace(c.at, c.count, c.with);
    standard.replace(c.at, c.count, c.with);
    EXPECT_EQ(Str(text), standard) << c.text;
    for (char ch : {'.', 'o', 'x', 'a'}) {
      EXPECT_EQ(text.find(ch), standard.find(ch)) << standard << " " << ch;
      EXPECT_EQ(text.find(ch, 2), standard.find(ch, 2)) << standard << " " << ch;
      EXPECT_EQ(text.rfind(ch), standard.rfind(ch)) << standard << " " << ch;
    }
    for (size_t from = 0; from <= standard.size(); ++from) {
      EXPECT_EQ(Str(text.substr(from)), standard.substr(from));
      EXPECT_EQ(Str(text.substr(from, 2)), standard.substr(from, 2));
    }
  }
  Text text = "abc";
  text.pop_back();
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(text.back(), 'b');
  text.clear();
  EXPECT_TRUE(text.empty());
}

TEST(Text, OrdersAsUnsignedBytesThenByLength) {
  const char* ordered[] = {"", "a", "ab", "b", "\x7F", "\x80", "\xFF"};
  for (size_t i = 0; i < sizeof ordered / sizeof *ordered; ++i) {
    for (size_t j = 0; j < sizeof ordered / sizeof *ordered; ++j) {
      EXPECT_EQ(Text(ordered[i]) < Text(ordered[j]), i < j) << i << " " << j;
      EXPECT_EQ(Text(ordered[i]) == Text(ordered[j]), i == j) << i << " " << j;
    }
  }
}

TEST(Text, MovesLeaveTheSourceEmptyAndCopiesAreSeparate) {
  Text a = "some text long enough to live on the heap";
  const char* bytes = a.c_str();
  Text b = std::move(a);
  EXPECT_EQ(b.c_str(), bytes);  // taken over, not copied
  EXPECT_TRUE(a.empty());       // NOLINT: the moved-from state is specified
  EXPECT_STREQ(a.c_str(), "");  // NOLINT
  Text c = b.Copy();
  c[0] = 'S';
  EXPECT_EQ(b[0], 's');
  b = std::move(c);
  EXPECT_EQ(b[0], 'S');
  Text& same = b;
  b = std::move(same);  // a self-move keeps the text
  EXPECT_EQ(b[0], 'S');
}

}  // namespace
}  // namespace sfx
