#include "tools/sfxpack/command_line.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"stub", 0, "STUB", false, "the stub"},
    {"file", 0, "NAME=PATH", true, "a file"},
    {"out", 'o', "OUT", false, "output"},
    {"json", 0, nullptr, false, "as JSON"},
};

TEST(ParseArgs, AcceptsEveryFormAndKeepsOrder) {
  ParsedArgs parsed;
  std::string error;
  ASSERT_TRUE(ParseArgs(kOptions,
                        {"--stub", "s.exe", "--file=a=1", "pos1", "--file", "b=2", "-o", "out", "--json",
                         "--", "--not-an-option"},
                        &parsed, &error))
      << error;
  EXPECT_EQ(parsed.Get("stub"), "s.exe");
  EXPECT_EQ(parsed.All("file"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(parsed.Get("out"), "out");
  EXPECT_TRUE(parsed.Has("json"));
  EXPECT_FALSE(parsed.Has("missing"));
  EXPECT_EQ(parsed.Get("missing", "dflt"), "dflt");
  EXPECT_EQ(parsed.positionals(), (std::vector<std::string>{"pos1", "--not-an-option"}));
}

struct BadCase {
  std::vector<std::string> args;
  const char* message;
};

TEST(ParseArgs, ErrorsNameTheOption) {
  const BadCase cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--stub"}, "option --stub needs a value (STUB)"},
      {{"--stub", "a", "--stub", "b"}, "option --stub given twice"},
      {{"--json=1"}, "option --json takes no value"},
  };
  for (const auto& c : cases) {
    ParsedArgs parsed;
    std::string error;
    EXPECT_FALSE(ParseArgs(kOptions, c.args, &parsed, &error));
    EXPECT_EQ(error, c.message);
  }
}

TEST(ParseArgs, LoneDashIsPositional) {
  ParsedArgs parsed;
  std::string error;
  ASSERT_TRUE(ParseArgs(kOptions, {"-"}, &parsed, &error));
  EXPECT_EQ(parsed.positionals(), (std::vector<std::string>{"-"}));
}

TEST(DescribeOptions, ListsEveryOption) {
  std::string text = DescribeOptions(kOptions);
  EXPECT_NE(text.find("-o, --out OUT"), std::string::npos) << text;
  EXPECT_NE(text.find("--file NAME=PATH"), std::string::npos);
  EXPECT_NE(text.find("(repeatable)"), std::string::npos);
}

}  // namespace
}  // namespace sfx
