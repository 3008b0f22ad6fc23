#include "sfxstub/archive/package_blob.h"

#include <gtest/gtest.h>

#include "sfxstub/archive/file_stream.h"
#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/package_blob_writer.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

Bytes MakeBlob(const Bytes& data) {
  Bytes blob;
  EXPECT_EQ(WritePackageBlob(data.data(), static_cast<uint32_t>(data.size()), &blob), kOk);
  return blob;
}

void PutU32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

ResultCode Read(Bytes& blob, Bytes* out) {
  MemoryStream stream;
  stream.Attach(blob.data(), static_cast<uint32_t>(blob.size()));
  HeapBlock buffer;
  uint32_t length = 0xDEAD;
  ResultCode result = ReadPackageBlob(stream, &buffer, &length);
  if (result == kOk) {
    out->assign(buffer.get(), buffer.get() + length);
  } else {
    EXPECT_EQ(buffer, nullptr) << "no buffer is handed out on failure";
  }
  return result;
}

TEST(PackageBlob, RoundTripsThroughTheWriter) {
  for (size_t size : {0u, 1u, 1000u, 300000u}) {
    Bytes data = test::NoiseBytes(size, static_cast<uint32_t>(size));
    for (size_t i = 0; i < size; i += 3) data[i] = 'a';  // some redundancy to compress
    Bytes blob = MakeBlob(data);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 16), test::BytesOf("JUXsetupFPkgFile"));
    EXPECT_EQ(blob[24], 0x78) << "a zlib header follows the 24-byte header";
    Bytes out;
    ASSERT_EQ(Read(blob, &out), kOk) << size;
    EXPECT_EQ(out, data);
  }
}

TEST(PackageBlob, WrongMagicInAnyByteIsDamage) {
  Bytes good = MakeBlob(test::BytesOf("payload"));
  for (size_t i = 0; i < 16; ++i) {
    Bytes blob = good;
    blob[i] ^= (i == 3) ? 0x20 : 0x01;  // byte 3 flips the letter's case
    Bytes out;
    EXPECT_EQ(Read(blob, &out), kDamagedPackage) << "byte " << i;
  }
}

TEST(PackageBlob, DeclaredSizeIsAnUpperBound) {
  Bytes data = test::BytesOf("hello hello hello");
  Bytes blob = MakeBlob(data);
  PutU32(&blob, 16, 1000);
  Bytes out;
  ASSERT_EQ(Read(blob, &out), kOk);
  EXPECT_EQ(out, data) << "the real length is reported";

  PutU32(&blob, 16, static_cast<uint32_t>(data.size() - 1));
  EXPECT_EQ(Read(blob, &out), kDamagedPackage) << "data that inflate past the declared size";
}

TEST(PackageBlob, PackedSizePastTheStreamIsOutOfMemory) {
  Bytes blob = MakeBlob(test::BytesOf("abc"));
  uint32_t packed = static_cast<uint32_t>(blob.size() - 24);
  PutU32(&blob, 20, packed + 1);
  Bytes out;
  EXPECT_EQ(Read(blob, &out), kErrorNotEnoughMemory);
  PutU32(&blob, 20, 0xFFFFFFF0u);
  EXPECT_EQ(Read(blob, &out), kErrorNotEnoughMemory);
}

TEST(PackageBlob, HugeDeclaredSizeIsRefusedWithoutAllocating) {
  Bytes blob = MakeBlob(test::BytesOf("abc"));
  for (uint32_t size : {0x80000000u, 0xFFFFFFFFu}) {
    PutU32(&blob, 16, size);
    Bytes out;
    EXPECT_EQ(Read(blob, &out), kErrorNotEnoughMemory) << size;
  }
}

TEST(PackageBlob, SizeNoDeflateDataCouldReachIsDamageWithoutAllocating) {
  Bytes data(20000, 'a');
  Bytes blob = MakeBlob(data);
  uint32_t packed = static_cast<uint32_t>(blob.size() - 24);
  PutU32(&blob, 16, packed * 1032);
  Bytes out;
  ASSERT_EQ(Read(blob, &out), kOk) << "a generous bound is still a bound";
  EXPECT_EQ(out, data);
  PutU32(&blob, 16, packed * 1032 + 1);
  EXPECT_EQ(Read(blob, &out), kDamagedPackage);
}

TEST(PackageBlob, CorruptedZlibDataIsDamage) {
  Bytes data = test::NoiseBytes(5000, 9);
  Bytes good = MakeBlob(data);
  // The last four bytes are the Adler-32 check; a byte in the middle breaks the deflate data.
  for (size_t at : {good.size() - 1, good.size() - 4, size_t{24}, size_t{25}, good.size() / 2}) {
    Bytes blob = good;
    blob[at] ^= 0x55;
    Bytes out;
    EXPECT_EQ(Read(blob, &out), kDamagedPackage) << "byte " << at;
  }
}

TEST(PackageBlob, CutShortAnywhereNeverSucceeds) {
  Bytes good = MakeBlob(test::NoiseBytes(700, 4));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    Bytes blob(good.begin(), good.begin() + cut);
    blob.reserve(1);
    Bytes out;
    EXPECT_NE(Read(blob, &out), kOk) << "cut at " << cut;
  }
}

// The streaming reader over memory: output lands in a block of capacity bytes.
ResultCode Inflate(Bytes& blob, uint32_t pieceSize, size_t capacity, Bytes* out) {
  MemoryStream stream;
  stream.Attach(blob.data(), static_cast<uint32_t>(blob.size()));
  PackageBlobHeader header;
  ResultCode result = ReadPackageBlobHeader(stream, static_cast<uint32_t>(blob.size()), &header);
  if (result != kOk) return result;
  out->assign(capacity + 1, 0);
  MemoryStream output;
  output.Attach(out->data(), static_cast<uint32_t>(capacity));
  uint32_t written = 0;
  result = InflatePackageBlob(stream, header, output, pieceSize, &written);
  out->resize(written);
  return result;
}

TEST(PackageBlob, InflatesInPiecesOfAnySize) {
  Bytes data = test::NoiseBytes(20000, 12);
  for (size_t i = 0; i < data.size(); i += 2) data[i] = 'z';
  Bytes blob = MakeBlob(data);
  for (uint32_t piece : {1u, 7u, 4096u, 20000u, 1u << 20}) {
    Bytes out;
    ASSERT_EQ(Inflate(blob, piece, data.size(), &out), kOk) << piece;
    EXPECT_TRUE(out == data) << piece;
  }
}

TEST(PackageBlob, StreamedDamageAndShortOutputAreReported) {
  const Bytes data = test::NoiseBytes(9000, 13);
  const Bytes good = MakeBlob(data);
  struct Case {
    const char* what;
    void (*damage)(Bytes& blob);
    size_t capacity;
    ResultCode expected;
  };
  const Case cases[] = {
      {"data that end early",
       [](Bytes& b) {
         b.resize(b.size() - 100);
         PutU32(&b, 20, static_cast<uint32_t>(b.size() - 24));
       },
       9000, kDamagedPackage},
      {"more than the declared size", [](Bytes& b) { PutU32(&b, 16, 8999); }, 9000, kDamagedPackage},
      {"a wrong Adler-32", [](Bytes& b) { b.back() ^= 0x10; }, 9000, kDamagedPackage},
      {"a broken deflate code", [](Bytes& b) { b[30] ^= 0x55; }, 9000, kDamagedPackage},
      {"an output that takes fewer bytes than given", [](Bytes&) {}, 5000, kErrorWriteFault},
      {"packed size past the blob", [](Bytes& b) { PutU32(&b, 20, static_cast<uint32_t>(b.size())); }, 9000,
       kErrorNotEnoughMemory},
  };
  for (const Case& c : cases) {
    Bytes blob = good;
    c.damage(blob);
    Bytes out;
    EXPECT_EQ(Inflate(blob, 1000, c.capacity, &out), c.expected) << c.what;
    EXPECT_LE(out.size(), c.capacity) << c.what;
  }
}

TEST(PackageBlob, ReadsFromAFileStreamToo) {
  test::ScratchDir dir;
  Bytes data = test::NoiseBytes(10000, 2);
  test::WriteFileBytes(dir.File("blob"), MakeBlob(data));
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(dir.File("blob").c_str()));
  HeapBlock buffer;
  uint32_t length = 0;
  ASSERT_EQ(ReadPackageBlob(stream, &buffer, &length), kOk);
  EXPECT_EQ(Bytes(buffer.get(), buffer.get() + length), data);
}

}  // namespace
}  // namespace sfx
