// What the end-to-end tests share: a short scratch folder per case with the package, the probe's
// control file, TEMP and a current directory inside it; the probe's report; the error box words; and
// the checks for the stub's temporary directories.
#ifndef SFXSTUB_TESTS_WINE_STUB_FIXTURE_H_
#define SFXSTUB_TESTS_WINE_STUB_FIXTURE_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/stub_launch.h"

namespace sfx {
namespace test {

constexpr char kTempPrefix[] = "_kv_sfx.tm~";
constexpr char kOpeningWords[] =
    "opening the self-extract archive\n\nTry to download setup file again.\nIf you use Internet "
    "Explorer, clear it's cache before downloading:\nStart->Control Panel->Internet Options and "
    "Delete Temporary Internet Files.";
constexpr char kExtractingMainWords[] = "extracting main exe";
constexpr char kExtractingFilesWords[] = "extracting files";
constexpr char kSpawningWords[] = "spawning";

// The error box's text for a result and the words of its run stage.
std::string BoxText(uint32_t code, const char* words);

// An environment variable holding a Linux path, as Wine reaches it; empty when unset.
std::string EnvironmentPath(const char* name);

// The folder a run's directory is made in when TEMP names none: TMP's, when it names a folder, else
// the one GetTempPathA names with neither set. No trailing separator.
std::string FallbackTempBase();
// The folder GetTempPathA names with neither TEMP nor TMP set. No trailing separator.
std::string TempPathWithoutVariables();

bool Exists(const std::string& path);
std::string Parent(const std::string& path);
std::string Leaf(const std::string& path);
// Names in a directory, "." and ".." left out.
std::vector<std::string> Entries(const std::string& directory);
// True for base\_kv_sfx.tm~ plus a letter and five digits.
bool IsRunDirectoryOf(const std::string& path, const std::string& base);
// The stub's temporary directories directly inside base.
std::vector<std::string> RunDirectoriesIn(const std::string& base);
// Clears read-only attributes and removes the directory with everything in it.
void RemoveTree(const std::string& path);

struct SeenFile {
  std::string size;  // "dir" for a directory
  int64_t time = 0;
};

// One run of the probe, from its report.
struct ProbeRun {
  std::string commandLine;
  std::string currentDirectory;
  std::string module;
  std::string temp;  // its TEMP
  std::vector<uint32_t> progressWindowOwners;
  std::vector<std::pair<unsigned, uint32_t>> everyoneEntries;  // flags, mask
  std::map<std::string, SeenFile> files;
  bool held = false;  // the file named by linger_hold was opened for the lingering program
  uint32_t lingerPid = 0;
  std::map<std::string, std::string> digests;  // name, FNV-1a 64 in hexadecimal (digest=)
  uint64_t parentPeakWorkingSet = 0;           // the stub's, in bytes (parent_memory=)
  uint32_t exitCode = 0;

  std::string Directory() const { return Parent(module); }
};

std::vector<ProbeRun> ParseReport(const std::string& text);

// A scratch folder with a short path ("C:\\sfxe2e\\<process>-<n>"): the setup program's command line
// holds its path several times and must fit 260 bytes. Removed with everything in it.
class ShortScratch {
 public:
  static constexpr char kRoot[] = "C:\\sfxe2e";

  ShortScratch();
  ~ShortScratch();
  ShortScratch(const ShortScratch&) = delete;
  ShortScratch& operator=(const ShortScratch&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The name the packages run under in these tests.
constexpr char kPackageName[] = "setup.exe";

// Wine's X11 driver waits up to two seconds for a window manager to withdraw each window it hides,
// and Xvfb runs none; windows it does not hand to a window manager are not waited for. Set for the
// packages' names only (Wine's per-program settings), before any of them runs.
void UnmanagedWindowsFor(const std::string& program);

// A named manual-reset event the probe waits for (its lingering program, or its gate). Set, and so
// releasing whatever waits, when the test calls Set or ends on any path, failed assertions included.
class ReleaseEvent {
 public:
  explicit ReleaseEvent(const std::string& prefix);
  ~ReleaseEvent();
  ReleaseEvent(const ReleaseEvent&) = delete;
  ReleaseEvent& operator=(const ReleaseEvent&) = delete;

  bool valid() const { return event_ != nullptr; }
  const std::string& name() const { return name_; }
  void Set();

 private:
  std::string name_;
  HANDLE event_;
};

// Waits up to timeoutMs for the process pid to end. False when it could not be opened (already gone).
bool WaitForProcess(uint32_t pid, DWORD timeoutMs);

// A case's folder: the package good.exe (from SFX_E2E_PACKAGES) as setup.exe, the probe's control
// file, TEMP and the current directory.
class StubFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;

  // Writes the probe's control file and forgets earlier runs.
  void SetControl(const std::string& text);
  LaunchRequest Request(const std::string& arguments) const;
  LaunchOutcome Run(const std::string& arguments) { return LaunchAndWatch(Request(arguments)); }
  std::vector<ProbeRun> Runs() const;
  // The probe's command line for a normal run of good.exe from folder.
  std::string ExpectedCommandLine(const ProbeRun& run, const std::string& received) const;

  ShortScratch scratch;
  std::string packages, probe, folder, package, control, temp, workDir;
};

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_WINE_STUB_FIXTURE_H_
