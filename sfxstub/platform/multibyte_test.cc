#include "sfxstub/platform/multibyte.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

// The lead bytes of Shift-JIS (0x81..0x9F, 0xE0..0xFC); whatever byte follows one is its second byte,
// as the system steps through text.
bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

TEST(FindText, MatchesOnlyOnCharacterBoundaries) {
  struct Case {
    std::string text;
    std::string pattern;
    size_t single;  // with no lead bytes
    size_t dbcs;    // with ShiftJisLead
  };
  const Case cases[] = {
      {"abc/msi", "/msi", 3, 3},
      {"/msiexec", "/msi", 0, 0},
      {"", "/msi", kNotFound, kNotFound},
      {"abc", "", kNotFound, kNotFound},
      {"/ms", "/msi", kNotFound, kNotFound},
      {"/MSI", "/msi", kNotFound, kNotFound},  // case-sensitive
      // "\x81/" is one character: its second byte is no '/'.
      {"\x81/msi", "/msi", 1, kNotFound},
      {"\x81/msi /msi", "/msi", 1, 6},
      // A lead byte at the very end stands alone.
      {"ab\x81", "\x81", 2, 2},
      // Pairs are stepped over whole: "\x81\x81" then "/x".
      {"\x81\x81/x", "/x", 2, 2},
      {"\x81\x81\x81/x", "/x", 3, kNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindText(c.text, c.pattern, NoLeadBytes), c.single) << c.text << " / " << c.pattern;
    EXPECT_EQ(FindText(c.text, c.pattern, ShiftJisLead), c.dbcs) << c.text << " / " << c.pattern;
  }
}

TEST(FindText, StartsAtTheGivenPosition) {
  EXPECT_EQ(FindText("%A%%A%", "%A%", NoLeadBytes, 1), 3u);
  EXPECT_EQ(FindText("%A%%A%", "%A%", NoLeadBytes, 4), kNotFound);
  EXPECT_EQ(FindText("%A%", "%A%", NoLeadBytes, 3), kNotFound);
}

TEST(FindLastChar, SkipsSecondBytes) {
  // 0x95 0x5C is one double-byte character whose second byte equals '\\'.
  const std::string path = "C:\\dir\\\x95\\";
  EXPECT_EQ(FindLastChar(path, '\\', NoLeadBytes), 8u);
  EXPECT_EQ(FindLastChar(path, '\\', ShiftJisLead), 6u);
  EXPECT_EQ(FindLastChar("name", '\\', ShiftJisLead), kNotFound);
  EXPECT_FALSE(EndsWithChar(path, '\\', ShiftJisLead));
  EXPECT_TRUE(EndsWithChar(path, '\\', NoLeadBytes));
  EXPECT_TRUE(EndsWithChar("C:\\TEMP\\", '\\', ShiftJisLead));
  EXPECT_FALSE(EndsWithChar("", '\\', NoLeadBytes));
}

}  // namespace
}  // namespace sfx
