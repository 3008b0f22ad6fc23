// Opening signed packages: the trailer, the directory blob and the main program, each damaged in turn
// after signing, so that the signature holds and the archive's own checks are what is tested.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sfxstub/archive/file_stream.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/archive/package_blob_writer.h"
#include "tests/failing_read.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/package_layout.h"

namespace sfx {
namespace {

using test::Bytes;

Bytes Stub() { return test::BytesOf("MZ a stub image, whatever it holds"); }

// A package with a main program and one file, laid out by the tool's own writer.
Bytes GoodPackage(const std::string& commandTemplate = "/q") {
  PackageSpec spec;
  spec.stub = Stub();
  spec.mainProgram = test::NoiseBytes(3000, 5);
  spec.commandTemplate = commandTemplate;
  spec.files.push_back(PackageFile{"data.bin", test::NoiseBytes(100, 6), 1234567});
  ByteVector package;
  std::string error;
  EXPECT_EQ(LayOutPackage(spec, &package, &error), kOk) << error;
  return package;
}

// Stub, any number of raw bytes, then a directory blob and trailer for these chunks.
Bytes PackageWithDirectory(const ByteVector& chunks) {
  PackageLayout layout(Stub());
  EXPECT_EQ(layout.Finish(chunks), kOk);
  return layout.bytes();
}

void PutU32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Descriptors this process holds open; -1 where the system does not list them.
int OpenDescriptorCount() {
#if defined(_WIN32)
  return -1;
#else
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
#endif
}

class OpenTest : public ::testing::Test {
 protected:
  ResultCode OpenSigned(const Bytes& unsigned_, SignatureKind kind = kBinarySignature) {
    test::WriteFileBytes(path, test::SignedPackage(unsigned_, kind));
    return archive.Open(path.c_str());
  }

  test::ScratchDir dir;
  std::string path = dir.File("package.exe");
  SfxArchive archive{test::TestPublicKey()};
};

// At the first system read of any stream, moves the file `from` onto the name `to`: another user
// swapping a package's name while the archive already holds the file open.
class SwapNameAtFirstRead {
 public:
  SwapNameAtFirstRead(const std::string& from, const std::string& to) {
    From() = from;
    To() = to;
    System() = SetSystemReadForTesting(&Read);
  }
  ~SwapNameAtFirstRead() { SetSystemReadForTesting(System()); }
  SwapNameAtFirstRead(const SwapNameAtFirstRead&) = delete;
  SwapNameAtFirstRead& operator=(const SwapNameAtFirstRead&) = delete;

 private:
  static std::string& From() {
    static std::string from;
    return from;
  }
  static std::string& To() {
    static std::string to;
    return to;
  }
  static SystemReadFn& System() {
    static SystemReadFn system = nullptr;
    return system;
  }
  static int Read(int descriptor, void* buffer, uint32_t count) {
    if (!From().empty()) {
      std::error_code ignored;  // Windows refuses to rename onto a file held without delete sharing
      std::filesystem::rename(From(), To(), ignored);
      From().clear();
    }
    return System()(descriptor, buffer, count);
  }
};

// The signature must be checked through the handle the archive extracts from: opening the name again
// would check whatever the name points to by then. Here the held file differs from the signed one in
// a byte of its package data, and the signed one takes its name once reading starts.
TEST_F(OpenTest, ChecksTheFileItHoldsNotWhatItsNamePointsToLater) {
  const Bytes good = test::SignedPackage(GoodPackage(), kBinarySignature);
  Bytes held = good;
  const Bytes file = test::NoiseBytes(100, 6);  // data.bin, stored as it is
  auto at = std::search(held.begin(), held.end(), file.begin(), file.end());
  ASSERT_NE(at, held.end());
  at[50] ^= 0x01;
  test::WriteFileBytes(path, held);
  const std::string signedCopy = dir.File("signed.exe");
  test::WriteFileBytes(signedCopy, good);
  {
    SwapNameAtFirstRead swap(signedCopy, path);
    EXPECT_EQ(archive.Open(path.c_str()), kErrorFileInvalid);
  }
  SfxArchive again{test::TestPublicKey()};
  EXPECT_EQ(again.Open(path.c_str()), test::FileExists(signedCopy) ? kErrorFileInvalid : kOk)
      << "once swapped, the name holds the signed package, which opens";
}

TEST_F(OpenTest, GoodPackageOpensAndExtracts) {
  test::WriteFileBytes(path, test::SignedPackage(GoodPackage("run %CMDLINE%"), kBinarySignature));
  ASSERT_EQ(archive.Open(path.c_str()), kOk);
  EXPECT_EQ(archive.commandTemplate, "run %CMDLINE%");
  ASSERT_EQ(archive.entries.size(), 1u);
  std::string out = dir.File("setup.ovr");
  ASSERT_EQ(archive.ExtractMainProgram(out.c_str()), kOk);
  EXPECT_EQ(test::ReadFileBytes(out), test::NoiseBytes(3000, 5));
  ASSERT_EQ(archive.ExtractFiles(dir.path().c_str()), kOk);
  EXPECT_EQ(test::ReadFileBytes(dir.File("data.bin")), test::NoiseBytes(100, 6));
  EXPECT_EQ(test::FileModificationTime(dir.File("data.bin")), 1234567);
}

// A text signature's digest skips every byte outside 0x20..0x7F: the stub's code and the compressed
// data could be rewritten without touching it.
TEST_F(OpenTest, TextSignedPackageIsRefusedSinceItsDigestSkipsBinaryBytes) {
  Bytes package = test::SignedPackage(GoodPackage(), kTextSignature);
  Bytes patched = package;
  size_t changed = 0;
  for (size_t i = 0; i + kTextSignatureRecordSize < patched.size(); ++i) {
    if (patched[i] >= 0x80) {
      patched[i] ^= 0x01;
      ++changed;
    }
  }
  ASSERT_GT(changed, 0u);
  for (const Bytes* bytes : {&package, &patched}) {
    test::WriteFileBytes(path, *bytes);
    ASSERT_EQ(VerifySignedFile(path.c_str(), 2, test::TestPublicKey()), kOk) << "the record still verifies";
    SfxArchive fresh(test::TestPublicKey());
    EXPECT_EQ(fresh.Open(path.c_str()), kErrorFileInvalid);
  }
}

TEST_F(OpenTest, MissingFileIsNotFound) {
  EXPECT_EQ(archive.Open(dir.File("absent.exe").c_str()), kErrorFileNotFound);
}

TEST_F(OpenTest, UnsignedDigestOnlyOrForeignPackagesAreDamaged) {
  test::WriteFileBytes(path, GoodPackage());
  EXPECT_EQ(archive.Open(path.c_str()), kErrorFileInvalid);
  SfxArchive second(test::TestPublicKey());
  test::WriteFileBytes(path, test::SignedPackage(GoodPackage(), kTextDigest));
  EXPECT_EQ(second.Open(path.c_str()), kErrorFileInvalid) << "a digest record proves nothing";
  SfxArchive third(test::TestPublicKey());
  test::WriteFileBytes(path, test::SignedPackage(GoodPackage(), kBinarySignature, test::OtherSigningKey()));
  EXPECT_EQ(third.Open(path.c_str()), kErrorFileInvalid);
}

TEST_F(OpenTest, SignedLengthBelowTheTrailerIsDamaged) {
  // Signed ranges of 0 to 19 bytes cannot hold a trailer.
  for (size_t size : {0u, 1u, 19u}) {
    SfxArchive fresh(test::TestPublicKey());
    test::WriteFileBytes(path, test::SignedPackage(test::NoiseBytes(size, 3), kBinarySignature));
    EXPECT_EQ(fresh.Open(path.c_str()), kErrorFileInvalid) << size;
  }
}

TEST_F(OpenTest, TrailerMagicDifferingInAnyByteIsDamaged) {
  Bytes good = GoodPackage();
  for (size_t i = 0; i < 16; ++i) {
    Bytes damaged = good;
    damaged[damaged.size() - 16 + i] ^= 0x01;
    SfxArchive fresh(test::TestPublicKey());
    test::WriteFileBytes(path, test::SignedPackage(damaged, kBinarySignature));
    EXPECT_EQ(fresh.Open(path.c_str()), kErrorFileInvalid) << i;
  }
}

TEST_F(OpenTest, DirectoryOffsetPastTheTrailerOrIntoGarbageIsDamaged) {
  Bytes good = GoodPackage();
  size_t trailer = good.size() - 20;
  for (uint32_t offset : {static_cast<uint32_t>(trailer + 1), 0xFFFFFFFFu, 0u, 5u}) {
    Bytes damaged = good;
    PutU32(&damaged, trailer, offset);
    SfxArchive fresh(test::TestPublicKey());
    test::WriteFileBytes(path, test::SignedPackage(damaged, kBinarySignature));
    EXPECT_EQ(fresh.Open(path.c_str()), kErrorFileInvalid) << offset;
  }
}

TEST_F(OpenTest, DirectoryResultsReachTheCaller) {
  EXPECT_EQ(OpenSigned(PackageWithDirectory(ChunkWriter().AddText("MODE", "install").bytes())),
            kErrorInvalidParameter);
  SfxArchive second(test::TestPublicKey());
  path = dir.File("second.exe");
  test::WriteFileBytes(path, test::SignedPackage(PackageWithDirectory(ChunkWriter()
                                                                         .AddText("MODE", "extract")
                                                                         .AddWords("CMDP", {1, 2, 3})
                                                                         .bytes()),
                                                 kBinarySignature));
  EXPECT_EQ(second.Open(path.c_str()), kBadChunkDirectory);
}

// What listed files unpack to is bounded when the package opens, before anything is written: a
// deflated file cannot declare more than deflate can give, nor all files together 2 GiB or more.
TEST_F(OpenTest, DeclaredUnpackedSizesOverTheBoundsAreRefused) {
  auto deflated = [](const char* name, uint32_t packed, uint32_t unpacked) {
    return ChunkWriter().AddText("NAME", name).AddWords("PTRL", {0, packed, 0}).AddWords("ZLIB", {unpacked}).bytes();
  };
  auto stored = [](const char* name, uint32_t size) {
    return ChunkWriter().AddText("NAME", name).AddWords("PTRL", {0, size, 0}).bytes();
  };
  struct Case {
    const char* what;
    std::vector<ByteVector> records;
    ResultCode result;
  };
  const Case cases[] = {
      {"at deflate's limit", {deflated("a", 10, 10320)}, kOk},
      {"past deflate's limit", {deflated("a", 10, 10321)}, kErrorFileInvalid},
      {"2 GiB - 1 together", {deflated("a", 2000000, 0x40000000), deflated("b", 2000000, 0x3FFFFFF0), stored("c", 15)},
       kOk},
      {"2 GiB together", {deflated("a", 2000000, 0x40000000), deflated("b", 2000000, 0x3FFFFFF0), stored("c", 16)},
       kErrorFileInvalid},
      {"4 GiB together, wrapping in 32 bits", {deflated("a", 4000000, 0xFFFFFFFF), deflated("b", 2000000, 1)},
       kErrorFileInvalid},
  };
  int n = 0;
  for (const Case& c : cases) {
    ChunkWriter list;
    for (const auto& record : c.records) list.Add("FILE", record);
    // Every range lies inside the signed bytes, within a stub padded past the largest packed size.
    Bytes stub = Stub();
    stub.resize(4100000);
    PackageLayout layout(stub);
    ASSERT_EQ(layout.Finish(ChunkWriter().AddText("MODE", "extract").Add("LIST", list.bytes()).bytes()), kOk);
    const Bytes& package = layout.bytes();
    SfxArchive fresh(test::TestPublicKey());
    path = dir.File("bounds" + std::to_string(n++) + ".exe");
    test::WriteFileBytes(path, test::SignedPackage(package, kBinarySignature));
    EXPECT_EQ(fresh.Open(path.c_str()), c.result) << c.what;
  }
}

TEST_F(OpenTest, MainProgramOutsideTheSignedBytesOrDamagedIsRefused) {
  ByteVector directory = ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {0, 0}).bytes();
  ASSERT_EQ(OpenSigned(PackageWithDirectory(directory)), kOk);
  EXPECT_EQ(archive.ExtractMainProgram(dir.File("a").c_str()), kErrorFileInvalid) << "no CMDP data";

  // A blob pointing at the signature record itself, past the signed length.
  SfxArchive second(test::TestPublicKey());
  path = dir.File("second.exe");
  Bytes package = PackageWithDirectory(
      ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {static_cast<uint32_t>(Stub().size()), 0x10000}).bytes());
  test::WriteFileBytes(path, test::SignedPackage(package, kBinarySignature));
  ASSERT_EQ(second.Open(path.c_str()), kOk);
  EXPECT_EQ(second.ExtractMainProgram(dir.File("b").c_str()), kErrorFileInvalid);
  EXPECT_FALSE(test::FileExists(dir.File("b")));
}

// The main program is inflated into its file piece by piece: damage found after some pieces are
// written (the data end early, run past the declared size, or fail the Adler-32 check) still fails
// the extraction as damage, and the partial file goes.
TEST_F(OpenTest, MainProgramDamagedPastItsFirstPiecesLeavesNoPartialFile) {
  Bytes program(2 * kExtractPieceSize + 1000, 0);  // mostly zeros, so quick to pack
  const Bytes noise = test::NoiseBytes(program.size() / 4096, 8);
  for (size_t i = 0; i < noise.size(); ++i) program[i * 4096] = noise[i];
  Bytes good;
  ASSERT_EQ(WritePackageBlob(program.data(), static_cast<uint32_t>(program.size()), &good), kOk);
  struct Case {
    const char* what;
    void (*damage)(Bytes& blob);
  };
  const Case cases[] = {
      {"data that end early",
       [](Bytes& blob) {
         blob.resize(blob.size() - (blob.size() - 24) / 4);
         PutU32(&blob, 20, static_cast<uint32_t>(blob.size() - 24));
       }},
      {"data that inflate past the declared size",
       [](Bytes& blob) { PutU32(&blob, 16, static_cast<uint32_t>(2 * kExtractPieceSize + 999)); }},
      {"a wrong Adler-32", [](Bytes& blob) { blob.back() ^= 0x01; }},
  };
  for (const Case& c : cases) {
    Bytes blob = good;
    c.damage(blob);
    PackageLayout layout(Stub());
    uint32_t offset = layout.AddRaw(blob);
    ASSERT_EQ(layout.Finish(ChunkWriter()
                                .AddText("MODE", "extract")
                                .AddWords("CMDP", {offset, static_cast<uint32_t>(blob.size())})
                                .bytes()),
              kOk);
    SfxArchive fresh(test::TestPublicKey());
    test::WriteFileBytes(path, test::SignedPackage(layout.bytes(), kBinarySignature));
    ASSERT_EQ(fresh.Open(path.c_str()), kOk) << c.what;
    const std::string out = dir.File("setup.ovr");
    EXPECT_EQ(fresh.ExtractMainProgram(out.c_str()), kErrorFileInvalid) << c.what;
    EXPECT_FALSE(test::FileExists(out)) << c.what;
  }
}

TEST_F(OpenTest, FailedReadOfTheMainProgramReturnsItsErrorAndLeavesNoPartialFile) {
  PackageSpec spec;
  spec.stub = Stub();
  spec.mainProgram = test::NoiseBytes(kExtractPieceSize + 10, 9);  // two pieces of packed bytes
  ByteVector package;
  std::string error;
  ASSERT_EQ(LayOutPackage(spec, &package, &error), kOk) << error;
  ASSERT_EQ(OpenSigned(package), kOk);
  const std::string out = dir.File("setup.ovr");
  // The magic, the sizes' eight one-byte reads and the first piece pass; the second piece fails.
  test::FailingRead failing(11);
  EXPECT_EQ(archive.ExtractMainProgram(out.c_str()), test::kFailedReadError);
  EXPECT_FALSE(test::FileExists(out));
}

TEST_F(OpenTest, MainProgramToAMissingFolderCannotBeMade) {
  ASSERT_EQ(OpenSigned(GoodPackage()), kOk);
  EXPECT_EQ(archive.ExtractMainProgram(dir.File("no/such/setup.ovr").c_str()), kErrorCannotMake);
}

#if !defined(_WIN32)
TEST_F(OpenTest, ShortWriteOfTheMainProgramCannotBeMadeAndLeavesNoPartialFile) {
  ASSERT_EQ(OpenSigned(GoodPackage()), kOk);
  std::string out = dir.File("setup.ovr");
  // The 3000-byte program meets a cap of 1000 bytes: the write comes up short without an error.
  EXPECT_EXIT(
      {
        if (!test::CapFileSizeOfThisProcess(1000)) std::_Exit(254);
        std::_Exit(test::ExitStatusFor(archive.ExtractMainProgram(out.c_str())));
      },
      ::testing::ExitedWithCode(static_cast<int>(kErrorCannotMake)), "");
  EXPECT_FALSE(test::FileExists(out)) << "no partial program is left behind";
}
#endif

struct FailedOpenCase {
  const char* what;
  Bytes package;
  ResultCode expected;
};

// A package refused at any stage must not stay held: on Windows it would stay locked against
// writers, and the descriptor would leak for the archive's life.
TEST_F(OpenTest, FailedOpenReleasesThePackageFile) {
  Bytes signedGood = test::SignedPackage(GoodPackage(), kBinarySignature);
  Bytes flipped = signedGood;
  flipped[flipped.size() / 2] ^= 0x40;
  Bytes badMagic = GoodPackage();
  badMagic[badMagic.size() - 1] ^= 0x01;
  const FailedOpenCase cases[] = {
      {"signature does not match", flipped, kErrorFileInvalid},
      {"text signature", test::SignedPackage(GoodPackage(), kTextSignature), kErrorFileInvalid},
      {"trailer magic", test::SignedPackage(badMagic, kBinarySignature), kErrorFileInvalid},
      {"mode", test::SignedPackage(PackageWithDirectory(ChunkWriter().AddText("MODE", "install").bytes()),
                                   kBinarySignature),
       kErrorInvalidParameter},
      {"12-byte CMDP",
       test::SignedPackage(
           PackageWithDirectory(ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {1, 2, 3}).bytes()),
           kBinarySignature),
       kBadChunkDirectory},
  };
  for (const auto& c : cases) {
    test::WriteFileBytes(path, c.package);
    int before = OpenDescriptorCount();
    SfxArchive failed(test::TestPublicKey());
    ASSERT_EQ(failed.Open(path.c_str()), c.expected) << c.what;
    EXPECT_FALSE(failed.stream.IsOpen()) << c.what;
    EXPECT_EQ(OpenDescriptorCount(), before) << c.what;
    std::FILE* writer = std::fopen(path.c_str(), "r+b");
    EXPECT_NE(writer, nullptr) << c.what << ": the package can be written again";
    if (writer) std::fclose(writer);
  }

  // The count does see the descriptor of a package that opens.
  test::WriteFileBytes(path, signedGood);
  int before = OpenDescriptorCount();
  SfxArchive opened(test::TestPublicKey());
  ASSERT_EQ(opened.Open(path.c_str()), kOk);
  EXPECT_TRUE(opened.stream.IsOpen());
  if (before >= 0) {
    EXPECT_EQ(OpenDescriptorCount(), before + 1);
  }
}

TEST_F(OpenTest, OpenPackageCannotBeChangedOrMovedOnWindows) {
  ASSERT_EQ(OpenSigned(GoodPackage()), kOk);
  std::FILE* writer = std::fopen(path.c_str(), "r+b");
  int renamed = std::rename(path.c_str(), dir.File("moved.exe").c_str());
#if defined(_WIN32)
  EXPECT_EQ(writer, nullptr) << "a second opener must not write";
  EXPECT_NE(renamed, 0) << "nor rename";
  EXPECT_NE(std::remove(path.c_str()), 0) << "nor delete";
#else
  (void)renamed;
#endif
  if (writer) std::fclose(writer);
}

}  // namespace
}  // namespace sfx
