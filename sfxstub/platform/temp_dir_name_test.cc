#include "sfxstub/platform/temp_dir_name.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

TEST(TempDirCandidate, BaseSeparatorPrefixLetterAndFiveDigits) {
  struct Case {
    const char* base;
    uint32_t threadId;
    char letter;
    const char* path;
  };
  const Case cases[] = {
      {"C:\\TEMP", 1234, 'a', "C:\\TEMP\\_kv_sfx.tm~a01234"},
      {"C:\\TEMP\\", 1234, 'b', "C:\\TEMP\\_kv_sfx.tm~b01234"},  // no second separator
      {"C:\\TEMP", 0, 'z', "C:\\TEMP\\_kv_sfx.tm~z00000"},
      {"C:\\TEMP", 7, 'a', "C:\\TEMP\\_kv_sfx.tm~a00007"},
      {"C:\\TEMP", 1234567, 'a', "C:\\TEMP\\_kv_sfx.tm~a34567"},  // the five lowest digits only
      {"C:\\TEMP", 4294967295u, 'c', "C:\\TEMP\\_kv_sfx.tm~c67295"},
      {"C:", 99999, 'a', "C:\\_kv_sfx.tm~a99999"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TempDirCandidate(c.base, "_kv_sfx.tm~", c.threadId, c.letter, NoLeadBytes), c.path);
  }
}

TEST(TempDirCandidate, SecondByteOfADoubleByteCharacterIsNoSeparator) {
  // The folder name ends in 0x95 0x5C, one character.
  EXPECT_EQ(TempDirCandidate("C:\\\x95\\", "p", 1, 'a', ShiftJisLead), "C:\\\x95\\\\pa00001");
  EXPECT_EQ(TempDirCandidate("C:\\\x95\\", "p", 1, 'a', NoLeadBytes), "C:\\\x95\\pa00001");
}

}  // namespace
}  // namespace sfx
