// The hostile-input table on the host: every row opened and extracted by SfxArchive the way the stub's
// run does it, and the byte-by-byte sweeps that would take too long to run end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/verify/signed_file.h"
#include "tests/hostile_packages.h"
#include "tests/signing_fixture.h"

namespace sfx {
namespace test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  HostileStage stage;
  ResultCode code;
};

// The archive's part of the stub's run: open, the main program, the listed files.
Outcome OpenAndExtract(const std::string& package, const std::string& directory) {
  SfxArchive archive(TestPublicKey());
  ResultCode result = archive.Open(package.c_str());
  if (result != kOk) return {HostileStage::kOpening, result};
  result = archive.ExtractMainProgram(JoinPath(directory, "setup.ovr").c_str());
  if (result != kOk) return {HostileStage::kExtractingMain, result};
  result = archive.ExtractFiles(directory.c_str());
  if (result != kOk) return {HostileStage::kExtractingFiles, result};
  return {HostileStage::kRuns, kOk};
}

ResultCode OpenOnly(const std::string& package) {
  SfxArchive archive(TestPublicKey());
  return archive.Open(package.c_str());
}

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class HostileTable : public ::testing::Test {
 protected:
  const Bytes mainProgram = NoiseBytes(2000, 3);
  Bytes stub = [] {
    Bytes image = BytesOf("MZ a stand-in for the stub's image ");
    Bytes noise = NoiseBytes(300, 4);
    image.insert(image.end(), noise.begin(), noise.end());
    return image;
  }();
  HostilePackages packages{stub, mainProgram, TestSigningKey()};
  ScratchDir dir;
  const std::string path = dir.File("package.exe");
};

TEST_F(HostileTable, EveryRowStopsWhereItShouldAndWritesOnlyInsideItsDirectory) {
  std::vector<HostileRow> rows = packages.Rows();
  ASSERT_GT(rows.size(), 50u);
  for (const HostileRow& row : rows) {
    if (row.where == HostileWhere::kWindowsOnly) continue;
    SCOPED_TRACE(row.name);
    WriteFileBytes(path, row.package);
    const std::string out = dir.File("out");
    fs::create_directory(out);
    Outcome outcome = OpenAndExtract(path, out);
    EXPECT_EQ(static_cast<int>(outcome.stage), static_cast<int>(row.stage));
    if (row.stage != HostileStage::kRuns) {
      EXPECT_EQ(outcome.code, row.code);
      // Nothing of a refused package stays but what was written before the failing step.
      std::vector<std::string> expected;
      if (row.stage == HostileStage::kExtractingFiles) expected.push_back("setup.ovr");
      for (const ListedFile& file : row.files) {
        expected.push_back(file.name);
        EXPECT_EQ(ReadFileBytes(test::Str(JoinPath(out, file.name.c_str()))), file.bytes) << file.name;
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Names(out), expected);
    } else {
      std::map<std::string, const ListedFile*> files;
      for (const ListedFile& file : row.files) files[file.name] = &file;
      std::vector<std::string> expected = {"setup.ovr"};
      for (const auto& file : files) expected.push_back(file.first);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Names(out), expected);
      EXPECT_EQ(ReadFileBytes(test::Str(JoinPath(out, "setup.ovr"))), mainProgram);
      for (const auto& file : files) {
        EXPECT_EQ(ReadFileBytes(test::Str(JoinPath(out, file.first.c_str()))), file.second->bytes)
            << file.first;
        EXPECT_EQ(FileModificationTime(test::Str(JoinPath(out, file.first.c_str()))), file.second->time)
            << file.first;
      }
    }
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"out", "package.exe"}));
    fs::remove_all(out);
  }
}

TEST_F(HostileTable, PackageCutAtAnyByteIsDamaged) {
  PackageParts parts;
  const Bytes good = packages.Unsigned(&parts);
  for (uint32_t kind : {kBinarySignature, kTextSignature}) {
    const Bytes whole = packages.Signed(good, kind);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      WriteFileBytes(path, Bytes(whole.begin(), whole.begin() + cut));
      // Only the cut right after the stub's own record leaves a record that verifies.
      EXPECT_EQ(VerifySignedFile(path.c_str(), 2, TestPublicKey()) == kOk, cut == parts.mainOffset)
          << "kind " << kind << ", cut at " << cut;
      ASSERT_EQ(OpenOnly(path), kErrorFileInvalid) << "kind " << kind << ", cut at " << cut;
    }
  }
}

TEST_F(HostileTable, PackageCutThenSignedAgainIsDamaged) {
  PackageParts parts;
  const Bytes good = packages.Unsigned(&parts);
  // Every cut from the last stored file to the end of the trailer, and every boundary before it.
  std::vector<uint32_t> cuts = {0, parts.stubImageEnd, parts.mainOffset, parts.mainOffset + 24,
                                parts.fileOffsets[0], parts.fileOffsets[1]};
  for (uint32_t at = parts.directoryOffset - 16; at < parts.signedEnd; ++at) cuts.push_back(at);
  for (uint32_t cut : cuts) {
    WriteFileBytes(path, packages.Signed(Bytes(good.begin(), good.begin() + cut), kBinarySignature));
    ASSERT_EQ(VerifySignedFile(path.c_str(), 2, TestPublicKey()), kOk) << cut;
    EXPECT_EQ(OpenOnly(path), kErrorFileInvalid) << "cut at " << cut;
  }
}

TEST_F(HostileTable, AnyByteOfTheTrailerOrTheRecordChangedIsDamaged) {
  PackageParts parts;
  const Bytes good = packages.Unsigned(&parts);
  for (uint32_t kind : {kBinarySignature, kTextSignature}) {
    const Bytes whole = packages.Signed(good, kind);
    for (size_t at = parts.trailerOffset; at < whole.size(); ++at) {
      Bytes damaged = whole;
      damaged[at] ^= 0x01;
      WriteFileBytes(path, damaged);
      EXPECT_EQ(OpenOnly(path), kErrorFileInvalid) << "kind " << kind << ", byte " << at;
    }
  }
}

}  // namespace
}  // namespace test
}  // namespace sfx
