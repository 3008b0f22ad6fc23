// Binary versions as the command line gives them, and the version resource's refusals. Its layout is
// checked against other tools' readers (pefile, Wine's version.dll) in branding_test.sh and under Wine.
#include "tools/sfxpack/resources/version_resource.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(BinaryVersion, OneToFourDecimalPartsEachAtMost65535) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t parts[4];
  } cases[] = {
      {"1", true, {1, 0, 0, 0}},         {"1.2", true, {1, 2, 0, 0}},
      {"1.2.3.4", true, {1, 2, 3, 4}},   {"65535.0.0.65535", true, {65535, 0, 0, 65535}},
      {"65536", false, {}},              {"1.2.3.4.5", false, {}},
      {"1.0.0-beta.1", false, {}},       {"v1.2", false, {}},
      {"1..2", false, {}},               {"1.2.", false, {}},
      {"", false, {}},                   {"0000001", false, {}},
      {"-1", false, {}},                 {" 1", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint16_t parts[4] = {9, 9, 9, 9};
    EXPECT_EQ(ParseBinaryVersion(c.text, parts), c.ok);
    if (c.ok) EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), std::vector<uint16_t>(c.parts, c.parts + 4));
  }
}

TEST(VersionResource, StringsItCannotHoldAreRefused) {
  struct Case {
    const char* what;
    std::string name, value, error;
  } cases[] = {
      {"a NUL in a value", "Comments", std::string("a\0b", 3), "NUL"},
      {"a NUL in a name", std::string("Com\0ments", 9), "x", "NUL"},
      {"an empty name", "", "x", "empty name"},
      {"bytes that are not UTF-8", "Comments", "\xC3\x28", "not UTF-8"},
      {"a resource over 64 KiB", "Comments", std::string(40000, 'x'), "64 KiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VersionInfo info;
    info.strings.emplace_back(c.name, c.value);
    ByteVector data;
    std::string error;
    EXPECT_FALSE(MakeVersionResource(info, &data, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(VersionResource, ReadsBackWhatItWrote) {
  VersionInfo info;
  ParseBinaryVersion("1.2.3.4", info.fileVersion);
  ParseBinaryVersion("5.6", info.productVersion);
  info.strings = {{"ProductName", "Kelvo \xE2\x9C\x93"}, {"Comments", ""}, {"X", "y"}};
  ByteVector data;
  std::string error;
  ASSERT_TRUE(MakeVersionResource(info, &data, &error)) << error;
  VersionInfo back;
  ASSERT_TRUE(ReadVersionResource(data, &back));
  EXPECT_EQ(BinaryVersionText(back.fileVersion), "1.2.3.4");
  EXPECT_EQ(BinaryVersionText(back.productVersion), "5.6.0.0");
  EXPECT_EQ(back.strings, info.strings);
}

}  // namespace
}  // namespace sfx
