// Names and paths outside every ANSI code page, under the stub's UTF-8 code page. This program's own
// ANSI calls are UTF-8 too (utf8_process.manifest); the probe reads what it sees as UTF-16 and reports
// it as UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/wine/stub_fixture.h"
#include "tests/wine/stub_launch.h"

namespace sfx {
namespace test {
namespace {

constexpr char kAccents[] = "r\xc3\xa9sum\xc3\xa9 \xc3\xbcn\xc3\xaf" "code.txt";
constexpr char kCjk[] = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt";
constexpr char kEmoji[] = "\xf0\x9f\x98\x80 emoji.txt";
// A folder name with all three: an accent, CJK and an emoji.
constexpr char kFolderName[] = "dossier \xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80";

class UnicodeTest : public StubFixture {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "this test's manifest sets UTF-8 as its code page";
    StubFixture::SetUp();
  }
};

TEST_F(UnicodeTest, ListedNamesReachTheSetupProgramIntact) {
  ASSERT_TRUE(CopyFileA((packages + "\\unicode.exe").c_str(), package.c_str(), FALSE));
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  std::vector<std::string> names;
  for (const auto& file : runs[0].files) names.push_back(file.first);
  std::vector<std::string> expected = {kAccents, kCjk, kEmoji, "kelvo.setup", "setup.ovr"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(runs[0].files[kAccents].size, "7");
  EXPECT_EQ(runs[0].files[kCjk].size, "3");
  EXPECT_EQ(runs[0].files[kEmoji].size, "9");
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(UnicodeTest, SourceFolderWithSuchCharactersReachesSrcpathAndTheTemplate) {
  const std::string source = folder + "\\" + kFolderName;
  ASSERT_TRUE(CreateDirectoryA(source.c_str(), nullptr));
  LaunchRequest request = Request("/silent");
  request.program = source + "\\" + kPackageName;
  ASSERT_TRUE(CopyFileA(package.c_str(), request.program.c_str(), FALSE));
  LaunchOutcome outcome = LaunchAndWatch(request);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  const std::string tmp = runs[0].Directory();
  // good.exe's template: /a "%SRCPATH%" /t "%TMPPATH%" /c [%CMDLINE%] /l %srcpath%
  EXPECT_EQ(runs[0].commandLine, "\"" + tmp + "\\kelvo.setup\" /a \"" + source + "\" /t \"" + tmp +
                                     "\" /c [/silent] /l %srcpath% /srcpath \"" + source + "\"");
  EXPECT_TRUE(Entries(temp).empty());
}

// The stub reads TEMP with GetEnvironmentVariableA. Wine 8 counts UTF-8 values of that call in UTF-16
// units and hands over that many bytes only: a value with characters beyond ASCII comes back cut.
bool SystemCutsUtf8Variables(const std::string& value) {
  SetEnvironmentVariableA("SFX_UTF8_PROBE", value.c_str());
  char read[MAX_PATH * 2] = "";
  DWORD length = GetEnvironmentVariableA("SFX_UTF8_PROBE", read, sizeof read);
  SetEnvironmentVariableA("SFX_UTF8_PROBE", nullptr);
  return length != value.size() || value != read;
}

TEST_F(UnicodeTest, TemporaryFolderWithSuchCharacters) {
  const std::string base = folder + "\\" + kFolderName;
  ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
  LaunchRequest request = Request("/silent");
  request.setEnvironment[1].second = base;  // TEMP
  LaunchOutcome outcome = LaunchAndWatch(request);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].temp, base);  // handed on to the setup program whole
  if (SystemCutsUtf8Variables(base)) {
    // The cut value names no folder: the stub passes over to TMP and makes nothing elsewhere.
    std::printf("note: GetEnvironmentVariableA cuts UTF-8 values here; the run goes to TMP's folder\n");
    EXPECT_TRUE(IsRunDirectoryOf(runs[0].Directory(), FallbackTempBase())) << runs[0].Directory();
  } else {
    EXPECT_TRUE(IsRunDirectoryOf(runs[0].Directory(), base)) << runs[0].Directory();
  }
  EXPECT_FALSE(Exists(runs[0].Directory()));
  EXPECT_TRUE(Entries(base).empty());
}

}  // namespace
}  // namespace test
}  // namespace sfx
