#include "sfxstub/archive/byte_stream.h"

#include <gtest/gtest.h>

#include "sfxstub/archive/memory_stream.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

TEST(IntegerReaders, ReadLittleEndian) {
  Bytes bytes = test::BytesOf("MODEMZ");
  bytes.push_back(0xFE);
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(ReadU32(stream), 0x45444F4Du);
  EXPECT_EQ(ReadU16(stream), 0x5A4Du);
  EXPECT_EQ(ReadU8(stream), 0xFEu);
}

TEST(IntegerReaders, MissingBytesAtTheEndReadAsZero) {
  Bytes bytes = {0x11, 0x22, 0x33};
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), 3));
  EXPECT_EQ(ReadU32(stream), 0x00332211u);
  EXPECT_EQ(ReadU16(stream), 0u);
  EXPECT_EQ(ReadU8(stream), 0u);
}

TEST(MemoryStream, ReadAtTheEndTransfersWhatIsLeftThenFails) {
  Bytes bytes(10, 7);
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), 10));
  stream.Seek(8, kSeekSet);
  uint8_t out[4] = {};
  uint32_t got = 99;
  EXPECT_TRUE(stream.Read(out, 4, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(stream.position, 10u);
  EXPECT_FALSE(stream.Read(out, 4, &got));
  EXPECT_EQ(stream.Acquire(1), nullptr);
  EXPECT_EQ(stream.position, 10u);
  EXPECT_EQ(stream.Acquire(0), bytes.data() + 10);
}

TEST(MemoryStream, AcquireIsZeroCopyAndBounded) {
  Bytes bytes = test::NoiseBytes(64, 1);
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), 64));
  stream.Seek(16, kSeekSet);
  EXPECT_EQ(stream.Acquire(48), bytes.data() + 16);
  stream.Seek(1, kSeekSet);
  EXPECT_EQ(stream.Acquire(0xFFFFFFFFu), nullptr) << "position + count must not wrap around";
  EXPECT_EQ(stream.position, 1u);
}

TEST(MemoryStream, AttachRefusesNullAndSecondBlock) {
  Bytes bytes(4);
  MemoryStream stream;
  EXPECT_FALSE(stream.Attach(nullptr, 4));
  EXPECT_TRUE(stream.Attach(bytes.data(), 4));
  EXPECT_FALSE(stream.Attach(bytes.data(), 4));
  stream.Detach();
  EXPECT_TRUE(stream.Attach(bytes.data(), 2));
  EXPECT_EQ(stream.Length(), 2u);
}

TEST(MemoryStream, DetachedStreamReadsAndWritesNothing) {
  MemoryStream stream;
  uint8_t b = 0;
  EXPECT_FALSE(stream.Read(&b, 1, nullptr));
  EXPECT_FALSE(stream.Write(&b, 1, nullptr));
  EXPECT_EQ(stream.Acquire(0), nullptr);
}

TEST(MemoryStream, SeekOriginsAndPastTheEnd) {
  Bytes bytes(10);
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), 10));
  EXPECT_EQ(stream.Seek(4, kSeekSet), 4u);
  EXPECT_EQ(stream.Seek(3, kSeekCurrent), 7u);
  EXPECT_EQ(stream.Seek(-2, kSeekEnd), 8u);
  EXPECT_EQ(stream.Seek(20, kSeekSet), 20u);
  uint8_t b;
  EXPECT_FALSE(stream.Read(&b, 1, nullptr));
  EXPECT_EQ(stream.Acquire(0), nullptr);
}

TEST(MemoryStream, WriteStaysInsideTheBlock) {
  Bytes bytes(4, 0);
  MemoryStream stream;
  ASSERT_TRUE(stream.Attach(bytes.data(), 3));
  uint8_t in[5] = {1, 2, 3, 4, 5};
  uint32_t put = 0;
  EXPECT_TRUE(stream.Write(in, 5, &put));
  EXPECT_EQ(put, 3u);
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 0}));
}

}  // namespace
}  // namespace sfx
