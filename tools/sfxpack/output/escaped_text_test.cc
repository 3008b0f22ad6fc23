#include "tools/sfxpack/output/escaped_text.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(EscapedText, ControlCharactersAndBrokenUtf8ComeOutAsEscapes) {
  const struct {
    const char* text;
    const char* printed;
  } cases[] = {
      {"/q %CMDLINE% /D=C:\\Program Files", "/q %CMDLINE% /D=C:\\Program Files"},
      {"/q\nkey:          SHA256:fake", "/q\\u000akey:          SHA256:fake"},
      {"\x1b[8m/hidden\x1b[0m", "\\u001b[8m/hidden\\u001b[0m"},
      {"a\rb\tc\x7f", "a\\u000db\\u0009c\\u007f"},
      {"\xc2\x9b" "8m", "\\u009b8m"},  // the 8-bit CSI, as UTF-8
      {"\xc2\xa0r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "\xc2\xa0r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80"},
      {"\xff\x9b" "x\xe6\x97", "\\xff\\x9bx\\xe6\\x97"},
      {"\xc0\xaf", "\\xc0\\xaf"},  // an overlong '/'
  };
  for (const auto& c : cases) EXPECT_EQ(EscapedText(c.text), c.printed) << c.printed;
}

}  // namespace
}  // namespace sfx
