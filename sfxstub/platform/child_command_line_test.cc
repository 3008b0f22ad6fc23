#include "sfxstub/platform/child_command_line.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(FormatChildCommandLine, QuotesThePathAndAddsArgumentsAfterOneBlank) {
  struct Case {
    const char* arguments;
    const char* line;
  };
  const Case cases[] = {
      {nullptr, "\"C:\\t\\kelvo.setup\""},    // absent: the quoted path alone
      {"", "\"C:\\t\\kelvo.setup\" "},        // empty but present: one blank
      {" /x y", "\"C:\\t\\kelvo.setup\"  /x y"},  // a leading blank gives two
      {"/a \"b c\"", "\"C:\\t\\kelvo.setup\" /a \"b c\""},
  };
  for (const auto& c : cases) {
    Text line = "stale";
    EXPECT_EQ(FormatChildCommandLine("C:\\t\\kelvo.setup", c.arguments, &line), kOk);
    EXPECT_EQ(line, c.line);
  }
}

// A package saved in a folder with a long path, or a long argument, must not fail: the line may be as
// long as CreateProcess takes, and only a longer one is refused.
TEST(FormatChildCommandLine, TakesWhatCreateProcessTakesAndRefusesOneMore) {
  const std::string program = "C:\\p.exe";  // quoted and followed by a blank: 11 bytes
  Text line;
  std::string fits(32766 - 11, 'a');
  ASSERT_EQ(FormatChildCommandLine(program.c_str(), fits.c_str(), &line), kOk);
  EXPECT_EQ(line.size(), 32766u);
  EXPECT_EQ(line.substr(11), fits);

  std::string tooLong = fits + "b";
  EXPECT_EQ(FormatChildCommandLine(program.c_str(), tooLong.c_str(), &line), kErrorFilenameExceedsRange);
  EXPECT_EQ(line, "");  // refused, never cut

  std::string longPath(32765, 'p');  // quoted: 32767 bytes without a terminator
  EXPECT_EQ(FormatChildCommandLine(longPath.c_str(), nullptr, &line), kErrorFilenameExceedsRange);
  std::string pathThatFits(32764, 'p');
  EXPECT_EQ(FormatChildCommandLine(pathThatFits.c_str(), nullptr, &line), kOk);
}

}  // namespace
}  // namespace sfx
