// The package written in one pass is the package laid out in memory, for every record kind.
#include "tools/sfxpack/package_file_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/packing/segmented_deflate.h"
#include "tools/sfxpack/prefix_block.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace {

using test::Bytes;

// SFXPACK_WORKERS set while it lives.
class WorkerCount {
 public:
  explicit WorkerCount(const char* count) { Set(count); }
  ~WorkerCount() { Set(""); }

 private:
  static void Set(const char* value) {
#if defined(_WIN32)
    _putenv_s("SFXPACK_WORKERS", value);  // "" removes it
#else
    if (*value) setenv("SFXPACK_WORKERS", value, 1);
    else unsetenv("SFXPACK_WORKERS");
#endif
  }
};

// The same inputs for both writers, in files and in memory: a file that does not compress (larger
// than the copy chunk and a worker's piece, or all inputs smaller than a chunk, which pass through a
// smaller buffer), one that does, an empty one and a small one.
struct BothInputs {
  explicit BothInputs(const test::ScratchDir& dir, bool small = false) {
    const Bytes block = test::NoiseBytes(997, 9);
    Bytes compressible;
    while (compressible.size() < 3 * kDeflateSegmentSize + 777) compressible.insert(compressible.end(), block.begin(), block.end());
    const std::vector<std::pair<std::string, Bytes>> sources = {
        {"big.bin", test::NoiseBytes(small ? 200000 : kCopyChunkSize + 12345, 5)},
        {"text.txt", small ? Bytes(compressible.begin(), compressible.begin() + 300000) : compressible},
        {"empty.txt", {}}, {"small.txt", test::BytesOf("abc")}};
    streamed.stub = test::BytesOf("MZ stub bytes and its record");
    // A setup program that crosses the copy chunk too, compressible, as programs are.
    Bytes program = test::NoiseBytes(small ? 3000 : kCopyChunkSize + 5000, 6);
    for (size_t i = 0; i < program.size(); i += 2) program[i] = 0;
    test::WriteFileBytes(dir.File("setup.exe"), program);
    streamed.mainProgram = {"", dir.File("setup.exe"), program.size(), 0};
    streamed.commandTemplate = "/q %CMDLINE%";
    spec = PackageSpec{streamed.stub, {}, program, streamed.commandTemplate, {}, {}, {}};
    uint32_t time = 1000000000;
    for (const auto& [name, bytes] : sources) {
      test::WriteFileBytes(dir.File(name), bytes);
      streamed.files.push_back({name, dir.File(name), bytes.size(), time});
      spec.files.push_back({name, bytes, time});
      time += 7;
    }
  }
  // The package LayOutPackage gives, signed with kind.
  ByteVector InMemory(SignatureKind kind) {
    ByteVector expected;
    std::string error;
    EXPECT_TRUE(MakePrefixBlock(test::TestSigningKey(), spec, &spec.prefixBlock, &error)) << error;
    EXPECT_EQ(LayOutPackage(spec, &expected, &error), kOk) << error;
    EXPECT_EQ(SignPackage(test::TestSigningKey(), kind, &expected, &error), kOk) << error;
    return expected;
  }
  StreamedPackage streamed;
  PackageSpec spec;
};

TEST(WritePackageFile, SameBytesAsTheLayoutInMemoryForEveryRecordKind) {
  for (bool small : {false, true}) {
    SCOPED_TRACE(small);
    test::ScratchDir dir;
    BothInputs inputs(dir, small);
    for (SignatureKind kind : {kBinarySignature, kTextSignature, kTextDigest}) {
      SCOPED_TRACE(kind);
      // The run options' chunks, once: both writers must place them and key the prefix block with them.
      if (kind == kTextDigest) {
        inputs.streamed.commandChunks = ChunkWriter().AddText("SRCP", "start").bytes();
        inputs.spec.commandChunks = inputs.streamed.commandChunks;
      }
      const ByteVector expected = inputs.InMemory(kind);
      uint64_t size = 0;
      std::string error;
      ASSERT_TRUE(WritePackageFile(inputs.streamed, test::TestSigningKey(), kind, dir.File("out.exe"), &size, &error))
          << error;
      EXPECT_EQ(size, expected.size());
      EXPECT_EQ(test::ReadFileBytes(dir.File("out.exe")), expected);
    }
  }
}

// Reproducible builds: whatever the number of workers that compress, and at every packing, the
// package written is the one laid out in memory.
TEST(WritePackageFile, SameBytesWhateverTheNumberOfWorkers) {
  test::ScratchDir dir;
  BothInputs inputs(dir);
  const PackingOptions packings[] = {{9, false}, {1, false}, {0, false}, {9, true}};
  std::vector<size_t> sizes;
  for (const PackingOptions& packing : packings) {
    inputs.streamed.packing = inputs.spec.packing = packing;
    const ByteVector expected = inputs.InMemory(kBinarySignature);
    sizes.push_back(expected.size());
    for (const char* workers : {"1", "3"}) {
      SCOPED_TRACE(std::to_string(packing.level) + (packing.store ? " store, " : ", ") + workers + " worker(s)");
      const WorkerCount count(workers);
      uint64_t size = 0;
      std::string error;
      ASSERT_TRUE(WritePackageFile(inputs.streamed, test::TestSigningKey(), kBinarySignature, dir.File("out.exe"),
                                   &size, &error)) << error;
      EXPECT_EQ(test::ReadFileBytes(dir.File("out.exe")), expected);
    }
  }
  // Level 9 packs smaller than level 1; level 0 and --store store every file alike.
  EXPECT_LT(sizes[0], sizes[1]);
  EXPECT_LT(sizes[1], sizes[2]);
  EXPECT_EQ(sizes[2], sizes[3]);
}

TEST(WritePackageFile, SourceThatChangedSizeLeavesNoOutput) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.File("a.txt"), test::BytesOf("four"));
  StreamedPackage streamed;
  streamed.stub = test::BytesOf("MZ stub");
  test::WriteFileBytes(dir.File("setup.exe"), test::BytesOf("program"));
  streamed.mainProgram = {"", dir.File("setup.exe"), 7, 0};
  for (uint64_t measured : {3u, 5u}) {
    streamed.files = {{"a.txt", dir.File("a.txt"), measured, 0}};
    uint64_t size = 0;
    std::string error;
    EXPECT_FALSE(WritePackageFile(streamed, test::TestSigningKey(), kBinarySignature, dir.File("out.exe"), &size, &error));
    EXPECT_NE(error.find("changed while the package was built"), std::string::npos) << error;
    EXPECT_FALSE(test::FileExists(dir.File("out.exe")));
    EXPECT_FALSE(test::FileExists(dir.File("out.exe.tmp~")));
  }
}

}  // namespace
}  // namespace sfx
