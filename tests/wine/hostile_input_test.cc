// The hostile-input table end to end: the stub run under Wine on every row of the table that is not
// left to the host (tests/hostile_packages.h), each package signed with the test key stamped into a
// copy of the stub. Each row must end with its result code and the error box words of its run stage,
// or with the setup program's own exit code, and leave no temporary directory and nothing outside it.
// Then what a setup program can leave behind, and twenty stubs at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/hostile_packages.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tests/wine/stub_fixture.h"
#include "tests/wine/stub_launch.h"
#include "tools/sfxpack/sfxpack_keys.h"

namespace sfx {
namespace test {
namespace {

// The probe's exit code in these runs, so that a run that ends with it plainly ran the setup program.
constexpr uint32_t kSetupExit = 0x2A;

const char* StageWords(HostileStage stage) {
  switch (stage) {
    case HostileStage::kOpening: return kOpeningWords;
    case HostileStage::kExtractingMain: return kExtractingMainWords;
    case HostileStage::kExtractingFiles: return kExtractingFilesWords;
    case HostileStage::kRuns: break;
  }
  return "";
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The table, built once: the stub under test with the test key stamped in, the probe as the setup
// program.
const std::vector<HostileRow>& Rows() {
  static const std::vector<HostileRow>* rows = [] {
    auto* built = new std::vector<HostileRow>;
    Bytes stub = ReadFileBytes(EnvironmentPath("SFX_STUB"));
    Bytes probe = ReadFileBytes(EnvironmentPath("SFX_PROBE"));
    std::string error;
    if (stub.empty() || probe.empty() || !PrepareStubKey(&stub, TestSigningKey(), false, &error)) {
      ADD_FAILURE() << "no stub or probe to build the table with (SFX_STUB, SFX_PROBE) " << error;
      return built;
    }
    *built = HostilePackages(stub, probe, TestSigningKey()).Rows();
    return built;
  }();
  return *rows;
}

class HostileInputTest : public StubFixture {};

TEST_F(HostileInputTest, EveryRowEndsAsTheTableSays) {
  size_t rowsRun = 0;
  for (const HostileRow& row : Rows()) {
    if (row.where == HostileWhere::kHostOnly) continue;
    SCOPED_TRACE(row.name);
    ++rowsRun;
    WriteFileBytes(package, row.package);
    SetControl("exit=0x2A\n");
    LaunchOutcome outcome = Run("/silent");
    ASSERT_FALSE(outcome.timedOut);
    ASSERT_EQ(outcome.startError, 0u);
    std::vector<ProbeRun> runs = Runs();

    std::vector<std::string> inFolder = {"probe.ctl", kPackageName, "temp", "work"};
    if (row.stage == HostileStage::kRuns) {
      EXPECT_EQ(outcome.exitCode, kSetupExit);
      EXPECT_TRUE(outcome.boxTexts.empty());
      ASSERT_EQ(runs.size(), 1u);
      // The listed files as the setup program found them, beside its own two.
      std::map<std::string, SeenFile> seen = runs[0].files;
      EXPECT_EQ(seen.erase("setup.ovr") + seen.erase("kelvo.setup"), 2u);
      std::vector<std::string> seenNames, expectedNames;
      for (const auto& file : seen) seenNames.push_back(file.first);
      for (const ListedFile& file : row.files) expectedNames.push_back(file.name);
      EXPECT_EQ(seenNames, Sorted(expectedNames));
      for (const ListedFile& file : row.files) {
        EXPECT_EQ(seen[file.name].size, std::to_string(file.bytes.size())) << file.name;
        EXPECT_EQ(seen[file.name].time, static_cast<int32_t>(file.time)) << file.name;
      }
      inFolder.push_back("probe.ctl.count");
      inFolder.push_back("probe.ctl.report");
    } else {
      EXPECT_EQ(outcome.exitCode, row.code);
      EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(row.code, StageWords(row.stage))});
      EXPECT_TRUE(runs.empty());
    }
    // The run's directory is gone; nothing was written beside the package, in the current directory,
    // or where the unsafe names point.
    EXPECT_TRUE(Entries(temp).empty());
    EXPECT_TRUE(Entries(workDir).empty());
    EXPECT_EQ(Sorted(Entries(folder)), Sorted(inFolder));
    EXPECT_FALSE(Exists("C:\\x"));
  }
  EXPECT_GT(rowsRun, 40u);
}

TEST_F(HostileInputTest, ListedFileLeftReadOnlyKeepsOnlyItselfAndItsDirectory) {
  SetControl("readonly=readme.txt\nexit=0x2A\n");
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, kSetupExit) << "the removal's failure is not reported";
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(Entries(runs[0].Directory()), std::vector<std::string>{"readme.txt"});
  EXPECT_EQ(RunDirectoriesIn(temp), std::vector<std::string>{runs[0].Directory()});
}

TEST_F(HostileInputTest, ListedFileHeldOpenKeepsOnlyItselfAndItsDirectory) {
  ReleaseEvent release("sfx-hold-");
  ASSERT_TRUE(release.valid());
  SetControl("linger=" + probe + "\nlinger_event=" + release.name() + "\nlinger_hold=data.bin\nexit=0x2A\n");
  LaunchOutcome outcome = Run("/silent");
  std::vector<ProbeRun> runs = Runs();
  std::string directory = runs.empty() ? std::string() : runs[0].Directory();
  std::vector<std::string> left = directory.empty() ? std::vector<std::string>() : Entries(directory);
  release.Set();
  const bool lingered = !runs.empty() && WaitForProcess(runs[0].lingerPid, 60000);

  EXPECT_EQ(outcome.exitCode, kSetupExit);
  EXPECT_TRUE(outcome.boxTexts.empty());
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_TRUE(runs[0].held);
  ASSERT_TRUE(lingered) << "the holder was already gone";
  EXPECT_EQ(left, std::vector<std::string>{"data.bin"});
  // Only the holder kept them: once it has ended, both go.
  RemoveTree(directory);
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(HostileInputTest, TwentyStubsAtOnceUseTwentyDirectoriesAndRemoveEveryOne) {
  constexpr int kStubs = 20;
  ReleaseEvent gate("sfx-gate-");
  ASSERT_TRUE(gate.valid());
  std::vector<std::string> controls;
  std::vector<LaunchOutcome> outcomes(kStubs);
  std::vector<std::thread> stubs;
  for (int i = 0; i < kStubs; ++i) {
    controls.push_back(folder + "\\probe" + std::to_string(i) + ".ctl");
    WriteFileBytes(controls.back(), BytesOf("gate=" + gate.name() + "\nexit=" + std::to_string(i + 1) + "\n"));
    LaunchRequest request = Request("/silent");
    request.setEnvironment[0].second = controls.back();
    stubs.emplace_back([&outcomes, request, i] { outcomes[i] = LaunchAndWatch(request); });
  }

  // Every setup program reports, then waits at the gate: all twenty directories exist at once.
  std::set<std::string> directories;
  for (int waited = 0; waited < 900; ++waited) {
    size_t reported = 0;
    for (const std::string& control : controls) reported += Exists(control + ".report") ? 1 : 0;
    if (reported == controls.size()) break;
    Sleep(100);
  }
  for (const std::string& control : controls) {
    Bytes report = ReadFileBytes(control + ".report");
    std::vector<ProbeRun> runs = ParseReport(std::string(report.begin(), report.end()));
    if (runs.size() == 1) directories.insert(runs[0].Directory());
  }
  std::vector<std::string> existing = RunDirectoriesIn(temp);
  gate.Set();
  for (std::thread& stub : stubs) stub.join();

  EXPECT_EQ(directories.size(), static_cast<size_t>(kStubs));
  EXPECT_EQ(std::set<std::string>(existing.begin(), existing.end()), directories);
  for (int i = 0; i < kStubs; ++i) {
    EXPECT_FALSE(outcomes[i].timedOut) << i;
    EXPECT_EQ(outcomes[i].exitCode, static_cast<uint32_t>(i + 1)) << i;
    EXPECT_TRUE(outcomes[i].boxTexts.empty()) << i;
  }
  EXPECT_TRUE(Entries(temp).empty());
}

}  // namespace
}  // namespace test
}  // namespace sfx
