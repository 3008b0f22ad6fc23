#include "tools/sfxpack/packing/segmented_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/test_support.h"

namespace sfx {
namespace {

// zlib's own stream at level: the header it writes is the one a segmented stream must open with.
std::vector<uint8_t> OneCall(const std::vector<uint8_t>& bytes, int level) {
  uLongf size = compressBound(bytes.size());
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, bytes.data(), bytes.size(), level), Z_OK);
  out.resize(size);
  return out;
}

TEST(DeflateSegmented, EveryLevelOpensWithZlibsHeaderAndInflatesToTheInput) {
  // Half noise, half runs: segments whose back-references reach into the one before them.
  std::vector<uint8_t> input = test::NoiseBytes(3 * kDeflateSegmentSize + 777, 3);
  for (size_t i = 0; i < input.size(); i += 2) input[i] = static_cast<uint8_t>(i / 4096);
  const size_t sizes[] = {0, 1, kDeflateSegmentSize, kDeflateSegmentSize + 1, input.size()};
  for (int level = 1; level <= 9; ++level) {
    for (size_t size : sizes) {
      SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(size) + " bytes");
      const std::vector<uint8_t> bytes(input.begin(), input.begin() + size);
      std::vector<uint8_t> stream;
      ASSERT_TRUE(DeflateSegmented(bytes.data(), bytes.size(), level, &stream));
      const std::vector<uint8_t> reference = OneCall(bytes, level);
      EXPECT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 2),
                std::vector<uint8_t>(reference.begin(), reference.begin() + 2));
      // The Adler-32 is the whole input's, as the one-call stream has it.
      EXPECT_EQ(std::vector<uint8_t>(stream.end() - 4, stream.end()),
                std::vector<uint8_t>(reference.end() - 4, reference.end()));
      std::vector<uint8_t> back(size + 1);
      uLongf backSize = back.size();
      ASSERT_EQ(uncompress(back.data(), &backSize, stream.data(), stream.size()), Z_OK);
      back.resize(backSize);
      EXPECT_EQ(back, bytes);
    }
  }
}

TEST(DeflateSegmented, StopAbandonsTheStreamAfterTheSegmentThatAskedIt) {
  const std::vector<uint8_t> noise = test::NoiseBytes(2 * kDeflateSegmentSize, 8);
  std::vector<uint8_t> stream;
  EXPECT_FALSE(DeflateSegmented(noise.data(), noise.size(), 9, &stream,
                                [](uint64_t size, uint64_t packed) { return packed * 2 > size; }));
  EXPECT_TRUE(DeflateSegmented(noise.data(), noise.size(), 9, &stream,
                               [](uint64_t size, uint64_t packed) { return packed > size + 100; }));
}

}  // namespace
}  // namespace sfx
