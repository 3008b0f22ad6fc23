// Real installers as setup programs, under Wine: an NSIS installer made by makensis and MSIs made by
// wixl (make_installer_packages.sh), run through the stub as a release engineer would; and the setup
// program's command line at the lengths CreateProcess allows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/wine/stub_fixture.h"

namespace sfx {
namespace test {
namespace {

std::string FileText(const std::string& path) {
  Bytes bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string ProgramFiles() {
  char buffer[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("ProgramW6432", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) length = GetEnvironmentVariableA("ProgramFiles", buffer, sizeof buffer);
  return std::string(buffer, length < sizeof buffer ? length : 0);
}

std::string RegistryText(const char* key, const char* name) {
  char value[1024] = "";
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return "(none)";
  }
  return value;
}

class InstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UnmanagedWindowsFor(kPackageName); }

  void SetUp() override {
    installers = EnvironmentPath("SFX_INSTALLER_PACKAGES");
    ASSERT_FALSE(installers.empty()) << "SFX_INSTALLER_PACKAGES is not set";
    if (!Exists(installers + "\\nsis.exe")) GTEST_SKIP() << "no installer packages (makensis or wixl missing)";
    folder = scratch.path();
    temp = folder + "\\temp";
    CreateDirectoryA(temp.c_str(), nullptr);
  }

  // The package copied in as setup.exe, run with arguments; a wizard waiting for nobody is killed.
  LaunchOutcome Run(const std::string& name, const std::string& arguments) {
    const std::string package = folder + "\\" + kPackageName;
    EXPECT_TRUE(CopyFileA((installers + "\\" + name).c_str(), package.c_str(), FALSE)) << name;
    LaunchRequest request;
    request.program = package;
    request.arguments = arguments;
    request.currentDirectory = folder;
    request.setEnvironment = {{"TEMP", temp}};
    request.timeoutMs = 90000;
    LaunchOutcome outcome = LaunchAndWatch(request);
    EXPECT_FALSE(outcome.timedOut) << name << " " << arguments << ": the installer waited for an answer";
    EXPECT_TRUE(outcome.boxTexts.empty()) << name << ": " << outcome.boxTexts[0];
    EXPECT_TRUE(Entries(temp).empty()) << name;
    return outcome;
  }

  ShortScratch scratch;
  std::string installers, folder, temp;
};

// NSIS takes /D= only as its last argument: with --srcpath start the stub's /srcpath goes first and
// the installer lands exactly in the folder given, and its own exit code comes back.
TEST_F(InstallerTest, NsisInstallsExactlyIntoTheFolderOfSlashDAndItsExitCodeComesBack) {
  struct Case {
    const char* exitOption;
    uint32_t exitCode;
  };
  const Case cases[] = {{"", 0}, {" /exit=77", 77}};
  for (const Case& c : cases) {
    const std::string target = folder + "\\Custom Acme " + std::to_string(c.exitCode);
    LaunchOutcome outcome = Run("nsis.exe", std::string("/S") + c.exitOption + " /D=" + target);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    for (const char* name : {"readme.txt", "data.bin", "uninstall.exe"}) {
      EXPECT_TRUE(Exists(target + "\\" + name)) << target << "\\" << name;
    }
    // What the installer was given, /D= taken off by NSIS: the source folder first.
    EXPECT_EQ(FileText(target + "\\parameters.txt"), "/srcpath \"" + folder + "\" /S" + c.exitOption);
  }
  // Nowhere else: no folder named after the rest of the command line.
  std::vector<std::string> entries = Entries(folder);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"Custom Acme 0", "Custom Acme 77", "setup.exe", "temp"}));
}

// "/silent" on the stub gives the installer --silent-command's /S: no wizard waits (it would be killed
// by the time-out), and the files land in the installer's default folder.
TEST_F(InstallerTest, NsisUnderSilentGetsItsSilentSwitch) {
  const std::string target = ProgramFiles() + "\\Acme";
  ASSERT_NE(target, "\\Acme");
  LaunchOutcome outcome = Run("nsis.exe", "/silent");
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(outcome.progressWindowSeen);
  for (const char* name : {"readme.txt", "data.bin", "uninstall.exe"}) {
    EXPECT_TRUE(Exists(target + "\\" + name)) << target << "\\" << name;
  }
  EXPECT_EQ(FileText(target + "\\parameters.txt"), "/srcpath \"" + folder + "\" /S");
  RemoveTree(target);
}

// msiexec's own codes come back through the runner and the stub: unchanged without "/msi", and through
// its mapping with it (3010 stays 3010).
TEST_F(InstallerTest, MsiInstallsThroughMsiexecAndItsCodesComeBack) {
  struct Case {
    const char* package;
    const char* arguments;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"msi.exe", "/verysilent", 0},
      {"msi-fails.exe", "/silent", 1603},      // its launch condition is false
      {"msi-fails.exe", "/msi", 1603},
      {"msi-reboot.exe", "/silent", 3010},     // a reboot scheduled
      {"msi-reboot.exe", "/msiexec", 3010},    // "/msi" as a substring: the mapping keeps 3010
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.package) + " " + c.arguments);
    LaunchOutcome outcome = Run(c.package, c.arguments);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
  }
  const std::string installed = ProgramFiles() + "\\AcmeSfx-msi\\payload.txt";
  EXPECT_EQ(FileText(installed), "payload\r\n");
  // The source folder reached the MSI as the public property SFXSRCPATH.
  EXPECT_EQ(RegistryText("Software\\AcmeSfx\\msi", "SrcPath"), folder);
  EXPECT_FALSE(Exists(ProgramFiles() + "\\AcmeSfx-msi-fails"));
}

class LongCommandLineTest : public StubFixture {
 protected:
  // The length of the setup program's command line for a run from this case's folder whose template
  // is "%CMDLINE%" with no /srcpath (cmdline.exe): the quoted run path, a blank, the arguments.
  size_t ChildLength(size_t arguments) const {
    const size_t runPath = temp.size() + 1 + (sizeof kTempPrefix - 1) + 6 + 1 + (sizeof "kelvo.setup" - 1);
    return 2 + runPath + 1 + arguments;
  }
};

// A valid package must not fail because of the folder it was saved in: the probe's template holds the
// folder twice, far beyond 260 bytes.
TEST_F(LongCommandLineTest, APackageInAFolderWithA240CharacterPathRuns) {
  std::string deep = folder;
  while (deep.size() < 240) {
    deep += "\\" + std::string(std::min<size_t>(60, 240 - deep.size() - 1), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  }
  ASSERT_EQ(deep.size(), 240u);
  package = deep + "\\" + kPackageName;
  ASSERT_TRUE(CopyFileA((packages + "\\good.exe").c_str(), package.c_str(), FALSE));
  folder = deep;
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine, ExpectedCommandLine(runs[0], "/silent"));
  EXPECT_GT(runs[0].commandLine.size(), 2 * 240u);
}

// CreateProcess takes 32,767 characters with the terminator: a line of 32,766 runs whole, one more is
// refused before anything runs, with the box.
TEST_F(LongCommandLineTest, ThirtyTwoThousandSevenHundredSixtySixCharactersRunOneMoreIsRefused) {
  ASSERT_TRUE(CopyFileA((packages + "\\cmdline.exe").c_str(), package.c_str(), FALSE));
  const size_t fits = 32766 - ChildLength(0);
  const std::string arguments = "/silent " + std::string(fits - 8, 'x');
  LaunchOutcome outcome = Run(arguments);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine.size(), 32766u);
  EXPECT_EQ(runs[0].commandLine, "\"" + runs[0].Directory() + "\\kelvo.setup\" " + arguments);

  SetControl("");
  outcome = Run(arguments + "x");
  EXPECT_EQ(outcome.exitCode, 206u);
  EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(206, kSpawningWords)});
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(Entries(temp).empty());
}

}  // namespace
}  // namespace test
}  // namespace sfx
