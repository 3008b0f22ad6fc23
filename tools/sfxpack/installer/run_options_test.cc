// sfxpack build's run options (--srcpath, --silent-command, --msi), read back through the stub's
// own archive code.
#include "tools/sfxpack/installer/run_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sfxstub/verify/key_block.h"
#include "tests/test_support.h"
#include "tools/sfxpack/sfxpack_commands.h"
#include "tools/sfxpack/sfxpack_keys.h"

namespace sfx {
namespace {

using test::Bytes;

int RunTool(std::vector<std::string> args) {
  const CommandSpec* command = FindCommand(args[0]);
  args.erase(args.begin());
  return RunCommand(*command, args);
}

class RunOptionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    keys = new test::ScratchDir;
    ASSERT_EQ(RunTool({"keygen", "-q", "--out", keys->File("k")}), kExitOk);
  }
  static void TearDownTestSuite() {
    delete keys;
    keys = nullptr;
  }

  void SetUp() override {
    Bytes stub = test::BytesOf("MZ stand-in stub ");
    uint8_t marker[kKeyBlockMarkerSize];
    KeyBlockMarker(marker);
    stub.insert(stub.end(), marker, marker + kKeyBlockMarkerSize);
    stub.resize(stub.size() + sizeof(DsaPublicKey) + 100, 0);
    test::WriteFileBytes(dir.File("stub.exe"), stub);
    Bytes program(0x40, 0);  // an MZ header pointing to a "PE" signature for amd64
    program[0] = 'M';
    program[1] = 'Z';
    program[0x3C] = 0x40;
    for (uint8_t b : {uint8_t{'P'}, uint8_t{'E'}, uint8_t{0}, uint8_t{0}, uint8_t{0x64}, uint8_t{0x86}}) {
      program.push_back(b);
    }
    test::WriteFileBytes(dir.File("setup.exe"), program);
    Bytes msi(kCompoundFileSignature, kCompoundFileSignature + 8);
    msi.resize(1024, 7);
    test::WriteFileBytes(dir.File("acme.msi"), msi);
  }

  // build with the stand-ins and extra, into out.
  int Build(const std::vector<std::string>& extra, const std::string& out = "p.exe") {
    std::vector<std::string> args = {"build", "-q", "--stub", dir.File("stub.exe"), "--key", keys->File("k.key"),
                                     "-o", dir.File(out)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(args);
  }

  static test::ScratchDir* keys;
  test::ScratchDir dir;
};

test::ScratchDir* RunOptionsTest::keys = nullptr;

TEST_F(RunOptionsTest, StoredAsTheStubReadsThem) {
  const std::string setup = dir.File("setup.exe");
  struct Case {
    std::vector<std::string> options;
    const char* command;
    bool hasSilent;
    const char* silent;
    SourcePathPlacement placement;
  };
  const Case cases[] = {
      {{"--setup", setup, "--command", "/x"}, "/x", false, "", SourcePathPlacement::kEnd},
      {{"--setup", setup, "--srcpath", "start", "--command", "/D=x", "--silent-command", "/S /D=x"}, "/D=x", true,
       "/S /D=x", SourcePathPlacement::kStart},
      {{"--setup", setup, "--srcpath", "none", "--silent-command", ""}, "", true, "", SourcePathPlacement::kNone},
      // The MSI runner's templates: the MSI's name first, the folder as a property last.
      {{"--msi", dir.File("acme.msi"), "--runner", setup}, "\"acme.msi\" SFXSRCPATH=\"%SRCPATH%\"", true,
       "\"acme.msi\" /qn SFXSRCPATH=\"%SRCPATH%\"", SourcePathPlacement::kNone},
      {{"--msi", dir.File("acme.msi"), "--runner", setup, "--srcpath", "none", "--command", "/qb %CMDLINE%",
        "--silent-command", "/quiet"},
       "\"acme.msi\" /qb %CMDLINE% SFXSRCPATH=\"%SRCPATH%\"", true, "\"acme.msi\" /quiet SFXSRCPATH=\"%SRCPATH%\"",
       SourcePathPlacement::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(Build(c.options), kExitOk);
    DsaPublicKey key;
    std::string error;
    ASSERT_TRUE(LoadPublicKeyFile(keys->File("k.pub"), &key, &error)) << error;
    SfxArchive archive(key);
    ASSERT_EQ(archive.Open(dir.File("p.exe").c_str()), kOk);
    EXPECT_EQ(archive.commandTemplate, c.command);
    EXPECT_EQ(archive.hasSilentCommandTemplate, c.hasSilent);
    EXPECT_EQ(archive.silentCommandTemplate, c.silent);
    EXPECT_EQ(archive.sourcePathPlacement, c.placement);
    if (c.options[0] == "--msi") {
      ASSERT_EQ(archive.entries.size(), 1u);
      EXPECT_EQ(archive.entries[0].name, "acme.msi");
      EXPECT_EQ(archive.entries[0].size, 1024u);
    }
  }
}

// Packages built without the new options are what they were: "--srcpath end" writes no chunk.
TEST_F(RunOptionsTest, TheDefaultsAddNothingToThePackage) {
  const std::string setup = dir.File("setup.exe");
  ASSERT_EQ(Build({"--setup", setup, "--command", "/x"}, "plain.exe"), kExitOk);
  ASSERT_EQ(Build({"--setup", setup, "--command", "/x", "--srcpath", "end"}, "end.exe"), kExitOk);
  ASSERT_EQ(Build({"--setup", setup, "--command", "/x", "--silent-command", "/x"}, "silent.exe"), kExitOk);
  EXPECT_EQ(test::ReadFileBytes(dir.File("plain.exe")), test::ReadFileBytes(dir.File("end.exe")));
  EXPECT_NE(test::ReadFileBytes(dir.File("plain.exe")), test::ReadFileBytes(dir.File("silent.exe")));
  RunOptions defaults;
  EXPECT_TRUE(RunOptionChunks(defaults).empty());
}

TEST_F(RunOptionsTest, RefusedCombinations) {
  const std::string setup = dir.File("setup.exe"), msi = dir.File("acme.msi");
  struct Case {
    std::vector<std::string> options;
    int status;
  };
  const Case cases[] = {
      {{"--setup", setup, "--srcpath", "middle"}, kExitUsage},
      {{"--command", "/x"}, kExitUsage},                                        // neither --setup nor --msi
      {{"--msi", msi, "--setup", setup}, kExitUsage},                           // --msi with --setup
      {{"--msi", msi, "--runner", setup, "--srcpath", "start"}, kExitUsage},    // msiexec refuses /srcpath
      {{"--msi", msi, "--runner", setup, "--srcpath", "end"}, kExitUsage},
      {{"--setup", setup, "--runner", setup}, kExitUsage},
      {{"--msi", setup, "--runner", setup}, kExitFailed},                       // a PE, not an MSI
      {{"--msi", msi, "--runner", setup, "--file", "acme.msi=" + setup}, kExitFailed},  // one name twice
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[c.options.size() - 1]);
    EXPECT_EQ(Build(c.options, "refused.exe"), c.status);
    EXPECT_FALSE(test::FileExists(dir.File("refused.exe")));
  }
}

TEST_F(RunOptionsTest, TheLengthWarningCountsTheSilentTemplateToo) {
  const std::string setup = dir.File("setup.exe");
  const std::string tooLong(33000, 'y');
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunTool({"build", "--stub", dir.File("stub.exe"), "--key", keys->File("k.key"), "-o", dir.File("w.exe"),
                     "--setup", setup, "--silent-command", tooLong}),
            kExitOk);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("--silent-command: the setup program's command line would be at least"), std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("--command:"), std::string::npos) << printed;
}

}  // namespace
}  // namespace sfx
