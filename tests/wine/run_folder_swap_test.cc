// Another user who may rename the stub's run folder, or a folder above it, plays against the stub
// under Wine: holding setup.ovr so that the run waits, renaming the folder away, putting a folder of
// their own with their own setup.ovr in its place. Whatever they manage, the program they planted
// never runs: either the rename is refused and the run succeeds, or the run fails with the box.
// Wine runs every process as one user and enforces no access list, so what is tested here is the
// hold on the folder and on the files, not the access list (tested where it is built).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/wine/stub_fixture.h"
#include "tests/wine/stub_launch.h"

namespace sfx {
namespace test {
namespace {

constexpr uint64_t kLargeFileSize = 64 * 1024 * 1024;  // large.bin in large.exe
constexpr char kPlantedMark[] = "planted.txt";

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What the other user did; the stub's run goes on meanwhile.
struct Attempt {
  bool heldMainProgram = false;  // opened setup.ovr without sharing
  bool renamed = false;          // the run folder moved away
  bool planted = false;          // their folder, with their setup.ovr, at the run folder's path
  std::string runDirectory;
};

class RunFolderSwapTest : public StubFixture {
 protected:
  void SetUp() override {
    StubFixture::SetUp();
    // 64 MiB to extract: time for the other user while the run is under way.
    ASSERT_TRUE(CopyFileA((packages + "\\large.exe").c_str(), package.c_str(), FALSE));
    program = ReadFileBytes(probe);
  }

  // Polls until pred holds or the run has ended.
  template <typename Pred>
  bool WaitFor(Pred pred) {
    while (!ended) {
      if (pred()) return true;
      Sleep(1);
    }
    return false;
  }

  std::string WaitForRunDirectory() {
    std::string found;
    WaitFor([&] {
      std::vector<std::string> directories = RunDirectoriesIn(temp);
      if (!directories.empty()) found = directories[0];
      return !found.empty();
    });
    return found;
  }

  // Their own folder at path, with their program as setup.ovr and a mark that the probe reports
  // when it runs from there.
  bool Plant(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr)) return false;
    WriteFileBytes(path + "\\setup.ovr", program);
    WriteFileBytes(path + "\\" + kPlantedMark, BytesOf("x"));
    return true;
  }

  // Runs the package with the other user's moves on a thread of their own.
  template <typename Moves>
  LaunchOutcome RunAgainst(Moves moves) {
    ended = false;
    std::thread other([&] { moves(); });
    LaunchOutcome outcome = Run("/silent");
    ended = true;
    other.join();
    return outcome;
  }

  void ExpectPlantedProgramNeverRan(const LaunchOutcome& outcome) {
    ASSERT_FALSE(outcome.timedOut);
    std::vector<ProbeRun> runs = Runs();
    for (const ProbeRun& run : runs) {
      EXPECT_EQ(run.files.count(kPlantedMark), 0u) << "the planted program ran from " << run.Directory();
    }
    if (!attempt.renamed) {
      EXPECT_EQ(outcome.exitCode, 0u);
      EXPECT_TRUE(outcome.boxTexts.empty());
      ASSERT_EQ(runs.size(), 1u);
      EXPECT_EQ(runs[0].files["large.bin"].size, std::to_string(kLargeFileSize));
    } else {
      EXPECT_EQ(outcome.boxTexts.size(), 1u) << "the folder was swapped, and the run went on as if not";
      EXPECT_NE(outcome.exitCode, 0u);
    }
    if (!attempt.runDirectory.empty()) {
      RemoveTree(attempt.runDirectory + ".away");
      RemoveTree(attempt.runDirectory);
    }
  }

  Bytes program;
  std::atomic<bool> ended{false};
  Attempt attempt;
};

// The demonstration: once setup.ovr is complete, hold it without sharing until the listed file is
// written (so that copying it by name fails and is retried), then let go, rename the run folder away
// and put one's own in its place.
TEST_F(RunFolderSwapTest, HoldingSetupOvrThenSwappingTheFolderNeverRunsThePlantedProgram) {
  LaunchOutcome outcome = RunAgainst([&] {
    attempt.runDirectory = WaitForRunDirectory();
    if (attempt.runDirectory.empty()) return;
    const std::string main = attempt.runDirectory + "\\setup.ovr";
    if (!WaitFor([&] { return FileSize(main) == program.size(); })) return;
    HANDLE held = CreateFileA(main.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    attempt.heldMainProgram = held != INVALID_HANDLE_VALUE;
    WaitFor([&] { return FileSize(attempt.runDirectory + "\\large.bin") == kLargeFileSize; });
    Sleep(100);  // the run is copying setup.ovr by now, or waiting to try again
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    attempt.renamed = MoveFileA(attempt.runDirectory.c_str(), (attempt.runDirectory + ".away").c_str()) != FALSE;
    if (attempt.renamed) attempt.planted = Plant(attempt.runDirectory);
  });
  EXPECT_FALSE(attempt.runDirectory.empty()) << "the run folder was never seen";
  EXPECT_FALSE(attempt.heldMainProgram) << "setup.ovr could be opened without sharing";
  EXPECT_FALSE(attempt.renamed) << "the run folder could be renamed";
  ExpectPlantedProgramNeverRan(outcome);
}

// A plain rename of the run folder, tried again and again while the large file is extracted, until
// the setup program has started. (Once it has ended and the folder is empty, the folder is let go
// just before it is removed; a rename then moves an empty folder, which nothing runs from.)
TEST_F(RunFolderSwapTest, RenamingTheFolderDuringExtractionNeverRunsThePlantedProgram) {
  LaunchOutcome outcome = RunAgainst([&] {
    attempt.runDirectory = WaitForRunDirectory();
    if (attempt.runDirectory.empty()) return;
    const std::string away = attempt.runDirectory + ".away";
    const std::string report = control + ".report";
    WaitFor([&] { return FileSize(attempt.runDirectory + "\\setup.ovr") == program.size(); });
    WaitFor([&] {
      attempt.renamed = MoveFileA(attempt.runDirectory.c_str(), away.c_str()) != FALSE;
      return attempt.renamed || GetFileAttributesA(report.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    if (attempt.renamed) attempt.planted = Plant(attempt.runDirectory);
  });
  EXPECT_FALSE(attempt.runDirectory.empty()) << "the run folder was never seen";
  EXPECT_FALSE(attempt.renamed) << "the run folder could be renamed";
  ExpectPlantedProgramNeverRan(outcome);
}

// The folder above the run folder renamed while the setup program runs (Windows refuses that while the
// run folder is held; Wine allows it) and a folder of someone else's put at the run folder's path,
// holding a file of theirs: the removal at the end finds the path no longer names the held folder
// and deletes nothing there.
TEST_F(RunFolderSwapTest, FolderPutWhereTheRunFolderWasIsNotEmptiedAtTheEnd) {
  ASSERT_TRUE(CopyFileA((packages + "\\good.exe").c_str(), package.c_str(), FALSE));
  ReleaseEvent gate("sfx-swap-gate-");
  ASSERT_TRUE(gate.valid());
  SetControl("gate=" + gate.name() + "\n");
  LaunchOutcome outcome;
  std::thread stub([&] { outcome = Run("/silent"); });
  for (int waited = 0; waited < 600 && Runs().empty(); ++waited) Sleep(100);
  std::vector<ProbeRun> runs = Runs();
  const std::string moved = temp + ".moved";
  const bool movedAbove = !runs.empty() && MoveFileA(temp.c_str(), moved.c_str());
  bool planted = false;
  std::string canary;
  if (movedAbove) {
    canary = runs[0].Directory() + "\\canary.txt";
    planted = CreateDirectoryA(temp.c_str(), nullptr) && CreateDirectoryA(runs[0].Directory().c_str(), nullptr);
    WriteFileBytes(canary, BytesOf("theirs"));
  }
  gate.Set();
  stub.join();
  RemoveTree(moved);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(outcome.exitCode, 0u);
  if (!movedAbove) GTEST_SKIP() << "this system refuses to rename a folder above a held one";
  ASSERT_TRUE(planted);
  EXPECT_TRUE(Exists(canary)) << "the run emptied a folder that is not its own";
}

}  // namespace
}  // namespace test
}  // namespace sfx
