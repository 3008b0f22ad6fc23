// A package near the size limit sfxpack enforces: a listed file of 1 GiB, stored, and a setup program
// of 256 MiB. The stub must extract both through bounded buffers (its peak working set stays within
// 64 MiB of an empty package's), write them byte for byte, and move its progress bar as it goes
// rather than at the end.
// SFX_BIG_PACKAGES names the folder make_big_packages.sh filled (for the stub under test).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/wine/file_digest.h"
#include "tests/wine/stub_fixture.h"

namespace sfx {
namespace test {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// The stub's memory does not grow with the package: its peak stays within 64 MiB of an empty one's.
void ExpectPeakWithin64MiBOfEmpty(const ProbeRun& run, const ProbeRun& empty) {
  const uint64_t above = run.parentPeakWorkingSet > empty.parentPeakWorkingSet
                             ? run.parentPeakWorkingSet - empty.parentPeakWorkingSet
                             : 0;
  EXPECT_LT(above, 64 * kMiB) << "peak working set " << run.parentPeakWorkingSet << " bytes, an empty package's "
                              << empty.parentPeakWorkingSet;
}

class BigPackageTest : public StubFixture {
 protected:
  static void SetUpTestSuite() {
    StubFixture::SetUpTestSuite();
    UnmanagedWindowsFor("big.exe");
    UnmanagedWindowsFor("empty.exe");
    UnmanagedWindowsFor("deflated.exe");
  }

  // Runs NAME from the big packages' folder in place (copying 1.25 GiB would only cost time).
  ProbeRun RunPackage(const std::string& name, LaunchOutcome* outcome,
                      const std::string& digests = "big.bin,setup.ovr") {
    package = big + "\\" + name;
    SetControl("parent_memory=1\ndigest=" + digests + "\n");
    LaunchRequest request = Request("");
    request.sampleProgressBar = true;
    request.timeoutMs = 600000;
    *outcome = LaunchAndWatch(request);
    EXPECT_FALSE(outcome->timedOut) << name;
    EXPECT_EQ(outcome->exitCode, 0u) << name;
    EXPECT_TRUE(outcome->boxTexts.empty()) << name << ": " << (outcome->boxTexts.empty() ? "" : outcome->boxTexts[0]);
    std::vector<ProbeRun> runs = Runs();
    EXPECT_EQ(runs.size(), 1u) << name;
    return runs.empty() ? ProbeRun() : runs[0];
  }

  std::string big = EnvironmentPath("SFX_BIG_PACKAGES");
};

TEST_F(BigPackageTest, GibibyteFileAndBigSetupProgramExtractInBoundedMemoryWithAMovingBar) {
  ASSERT_TRUE(Exists(big + "\\big.exe")) << "no big packages in '" << big << "'";
  LaunchOutcome emptyOutcome, bigOutcome;
  const ProbeRun empty = RunPackage("empty.exe", &emptyOutcome);
  const ProbeRun run = RunPackage("big.exe", &bigOutcome);
  ASSERT_GT(empty.parentPeakWorkingSet, 0u) << "the probe could not read the stub's memory";

  ASSERT_EQ(run.files.count("big.bin"), 1u);
  EXPECT_EQ(run.files.at("big.bin").size, std::to_string(1024 * kMiB));
  EXPECT_EQ(run.files.at("big.bin").time, 1600000000);
  EXPECT_EQ(run.files.at("setup.ovr").size, std::to_string(256 * kMiB));
  EXPECT_EQ(run.digests.at("big.bin"), FileDigest(big + "\\payload\\big.bin"));
  EXPECT_EQ(run.digests.at("setup.ovr"), FileDigest(big + "\\payload\\setup.exe"));

  ExpectPeakWithin64MiBOfEmpty(run, empty);
  std::printf("stub peak working set: empty package %llu KiB, big package %llu KiB; bar positions seen: %d\n",
              static_cast<unsigned long long>(empty.parentPeakWorkingSet / 1024),
              static_cast<unsigned long long>(run.parentPeakWorkingSet / 1024), bigOutcome.progressPositionsSeen);
  // The extraction steps the bar once per 4 MiB piece (256 steps for the file; the unit tests count
  // them); the window applies the steps it has received on its frame timer, every 100 ms, so what
  // can be seen from outside is the bar moving every frame while the file is written, instead of
  // standing still and jumping to the end at once.
  EXPECT_GE(bigOutcome.progressPositionsSeen, 5);
}

// Deflated listed files inflate through the same bounded pieces: a compressible file of 256 MiB and
// small ones come out byte for byte, and the stub's peak stays within 64 MiB of an empty package's.
TEST_F(BigPackageTest, DeflatedFilesInflateByteForByteInBoundedMemory) {
  ASSERT_TRUE(Exists(big + "\\deflated.exe")) << "no big packages in '" << big << "'";
  LaunchOutcome emptyOutcome, outcome;
  const ProbeRun empty = RunPackage("empty.exe", &emptyOutcome);
  const char* const names[] = {"deflated.bin", "small1.txt", "small2.txt", "small3.txt", "empty.txt"};
  std::string digests;
  for (const char* name : names) digests += std::string(digests.empty() ? "" : ",") + name;
  const ProbeRun run = RunPackage("deflated.exe", &outcome, digests);
  ASSERT_GT(empty.parentPeakWorkingSet, 0u) << "the probe could not read the stub's memory";
  for (const char* name : names) {
    ASSERT_EQ(run.digests.count(name), 1u) << name;
    EXPECT_EQ(run.digests.at(name), FileDigest(big + "\\payload\\" + name)) << name;
  }
  EXPECT_EQ(run.files.at("deflated.bin").size, std::to_string(256 * kMiB));
  ExpectPeakWithin64MiBOfEmpty(run, empty);
  std::printf("stub peak working set: empty package %llu KiB, deflated package %llu KiB\n",
              static_cast<unsigned long long>(empty.parentPeakWorkingSet / 1024),
              static_cast<unsigned long long>(run.parentPeakWorkingSet / 1024));
}

}  // namespace
}  // namespace test
}  // namespace sfx
