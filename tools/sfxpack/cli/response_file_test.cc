#include "tools/sfxpack/cli/response_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/test_support.h"
#include "tools/sfxpack/sfxpack_commands.h"

namespace sfx {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"key", 0, "KEY", false, "key"},       {"command", 0, "TEMPLATE", false, "text"},
    {"file", 0, "NAME=PATH", true, "file"}, {"out", 'o', "OUT", false, "output"},
    {"restamp", 0, nullptr, false, "flag"},
};

TEST(ResponseFileLine, QuotingCommentsAndBlanks) {
  const struct {
    const char* line;
    const char* argument;  // null: skipped
  } cases[] = {
      {"--key", "--key"},
      {"  spaced value\t\r", "spaced value"},
      {"", nullptr},
      {"   ", nullptr},
      {"# a comment", nullptr},
      {"  #indented comment", nullptr},
      {"\"  kept  \"", "  kept  "},
      {"\"#not a comment\"", "#not a comment"},
      {"\"@literal\"", "@literal"},
      {"\"\"", ""},
      {"\"say \\\"hi\\\" C:\\dir\\\\\"", "say \"hi\" C:\\dir\\"},
      {"'it''s'", "it''s"},
      {"'\\\"as is\\\"'", "\\\"as is\\\""},
      {"/q /log=\"%TMPPATH%\\x.log\" %CMDLINE%", "/q /log=\"%TMPPATH%\\x.log\" %CMDLINE%"},
  };
  for (const auto& c : cases) {
    std::string argument, error;
    bool skip = false;
    ASSERT_TRUE(ResponseFile::ParseLine(c.line, &argument, &skip, &error)) << c.line << ": " << error;
    EXPECT_EQ(skip, c.argument == nullptr) << c.line;
    if (c.argument) {
      EXPECT_EQ(argument, c.argument) << c.line;
    }
  }
}

TEST(ResponseFileLine, MalformedLinesAndNestingAreErrors) {
  for (const char* line : {"\"unterminated", "'unterminated", "\"", "\"a\"b\"", "@other.rsp", "  @nested"}) {
    std::string argument, error;
    bool skip = false;
    EXPECT_FALSE(ResponseFile::ParseLine(line, &argument, &skip, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(ResponseFileExpand, PathsAreRelativeToTheFilesFolderTextIsNot) {
  test::ScratchDir dir;
  const std::string sub = dir.File("proj");
  std::string error;
  std::filesystem::create_directories(sub);
  test::WriteFileBytes(sub + "/pkg.rsp",
                       test::BytesOf("# the package\n--key\nkeys/k.key\n--command\n/q %CMDLINE%\n"
                                     "--file=readme.txt=doc/readme.txt\n--file\nabs.bin=/abs/abs.bin\n"
                                     "--restamp\n-o\n-\npositional\n--\n--dashed\n"));
  std::vector<std::string> expanded;
  ASSERT_TRUE(ResponseFile::Expand(kOptions, {"--before", "@" + sub + "/pkg.rsp", "after"}, &expanded, &error))
      << error;
  const std::vector<std::string> expected = {
      "--before", "--key", sub + "/keys/k.key", "--command", "/q %CMDLINE%",
      "--file=readme.txt=" + sub + "/doc/readme.txt", "--file", "abs.bin=/abs/abs.bin", "--restamp", "-o", "-",
      sub + "/positional", "--", sub + "/--dashed", "after"};
  EXPECT_EQ(expanded, expected);
}

TEST(ResponseFileExpand, BuildsInstallerPathsAreRelativeToTheFilesFolder) {
  test::ScratchDir dir;
  const std::string sub = dir.File("proj");
  std::filesystem::create_directories(sub);
  test::WriteFileBytes(sub + "/pkg.rsp", test::BytesOf("--msi\nacme.msi\n--runner\nrun/msirunner.exe\n"
                                                       "--silent-command\n/qn\n--srcpath\nnone\n"));
  const CommandSpec* build = nullptr;
  for (const CommandSpec& command : Commands()) {
    if (command.name == std::string("build")) build = &command;
  }
  ASSERT_NE(build, nullptr);
  std::vector<std::string> expanded;
  std::string error;
  ASSERT_TRUE(ResponseFile::Expand(build->options, {"@" + sub + "/pkg.rsp"}, &expanded, &error)) << error;
  const std::vector<std::string> expected = {"--msi", sub + "/acme.msi", "--runner", sub + "/run/msirunner.exe",
                                             "--silent-command", "/qn", "--srcpath", "none"};
  EXPECT_EQ(expanded, expected);
}

TEST(ResponseFileExpand, MissingFileAndBadLinesNameTheFile) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.File("bad.rsp"), test::BytesOf("--key\n\n@nested.rsp\n"));
  const struct {
    std::string arg;
    std::string named;
  } cases[] = {
      {"@" + dir.File("missing.rsp"), "response file @" + dir.File("missing.rsp")},
      {"@" + dir.File("bad.rsp"), dir.File("bad.rsp") + ":3: "},
  };
  for (const auto& c : cases) {
    std::vector<std::string> expanded;
    std::string error;
    EXPECT_FALSE(ResponseFile::Expand(kOptions, {c.arg}, &expanded, &error)) << c.arg;
    EXPECT_EQ(error.rfind(c.named, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace sfx
