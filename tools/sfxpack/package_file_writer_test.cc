// The package written in one pass is the package laid out in memory, for every record kind.
#include "tools/sfxpack/package_file_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/prefix_block.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace {

using test::Bytes;

// Inputs larger than the copy chunk, crossing it unevenly, and inputs all smaller than it, which
// pass through a smaller buffer.
TEST(WritePackageFile, SameBytesAsTheLayoutInMemoryForEveryRecordKind) {
  const struct {
    size_t programSize;
    size_t fileSize;
  } rows[] = {{kCopyChunkSize + 5000, 2 * kCopyChunkSize + 12345}, {3000, 200000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fileSize);
    test::ScratchDir dir;
    // A file of the row's size, an empty one and a small one.
    const std::vector<std::pair<std::string, Bytes>> sources = {
        {"big.bin", test::NoiseBytes(row.fileSize, 5)}, {"empty.txt", {}}, {"small.txt", test::BytesOf("abc")}};
    StreamedPackage streamed;
    streamed.stub = test::BytesOf("MZ stub bytes and its record");
    // A compressible setup program, as programs are.
    Bytes program = test::NoiseBytes(row.programSize, 6);
    for (size_t i = 0; i < program.size(); i += 2) program[i] = 0;
    test::WriteFileBytes(dir.File("setup.exe"), program);
    streamed.mainProgram = {"", dir.File("setup.exe"), program.size(), 0};
    streamed.commandTemplate = "/q %CMDLINE%";
    PackageSpec spec{streamed.stub, {}, program, streamed.commandTemplate, {}, {}};
    uint32_t time = 1000000000;
    for (const auto& [name, bytes] : sources) {
      test::WriteFileBytes(dir.File(name), bytes);
      streamed.files.push_back({name, dir.File(name), bytes.size(), time});
      spec.files.push_back({name, bytes, time});
      time += 7;
    }
    for (SignatureKind kind : {kBinarySignature, kTextSignature, kTextDigest}) {
      SCOPED_TRACE(kind);
      // The run options' chunks, once: both writers must place them and key the prefix block with them.
      if (kind == kTextDigest) {
        streamed.commandChunks = ChunkWriter().AddText("SRCP", "start").bytes();
        spec.commandChunks = streamed.commandChunks;
      }
      ByteVector expected;
      std::string error;
      ASSERT_TRUE(MakePrefixBlock(test::TestSigningKey(), spec, &spec.prefixBlock, &error)) << error;
      ASSERT_EQ(LayOutPackage(spec, &expected, &error), kOk) << error;
      ASSERT_EQ(SignPackage(test::TestSigningKey(), kind, &expected, &error), kOk) << error;
      uint64_t size = 0;
      ASSERT_TRUE(WritePackageFile(streamed, test::TestSigningKey(), kind, dir.File("out.exe"), &size, &error))
          << error;
      EXPECT_EQ(size, expected.size());
      EXPECT_EQ(test::ReadFileBytes(dir.File("out.exe")), expected);
    }
  }
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
