#include "sfxstub/platform/join_path.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

struct JoinCase {
  const char* directory;
  const char* name;
  const char* joined;
};

TEST(JoinPath, WindowsSeparatorCases) {
  const JoinCase cases[] = {
      {"C:\\a", "b", "C:\\a\\b"},
      {"C:\\a\\", "b", "C:\\a\\b"},
      {"C:\\a", "\\b", "C:\\a\\b"},
      {"C:\\a\\", "\\b", "C:\\a\\\\b"},  // both have a separator: two stay
      {"", "b", "b"},
      {"C:\\a", "", "C:\\a"},
      {"C:\\a", nullptr, "C:\\a"},
      {"\"C:\\a\"", "b", "\"C:\\a\\b\""},
      {"\"C:\\a", "b", "\"C:\\a\\b\""},  // the closing quote was missing
      {"C:\\a\\", ":s", "C:\\a:s"},
      {"C:\\a", ":s", "C:\\a:s"},
      {"C:", "setup.ovr", "C:\\setup.ovr"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinPath(c.directory, c.name, '\\'), c.joined)
        << c.directory << " + " << (c.name ? c.name : "(null)");
  }
}

TEST(JoinPath, HostSeparator) {
  EXPECT_EQ(JoinPath("/tmp/x", "f", '/'), "/tmp/x/f");
  EXPECT_EQ(JoinPath("/tmp/x/", "f", '/'), "/tmp/x/f");
  EXPECT_EQ(JoinPath("/", "f", '/'), "/f");
}

}  // namespace
}  // namespace sfx
