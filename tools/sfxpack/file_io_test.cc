#include "tools/sfxpack/file_io.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace sfx {
namespace {

// build reads up to 64 MiB of the setup program for its manifest: the whole limit was allocated
// and cleared for a program of a few KiB, and the build's peak memory was 64 MiB above the rest.
TEST(ReadFilePrefix, ALimitAboveTheFilesSizeIsNotAllocated) {
  test::ScratchDir dir;
  const test::Bytes data = test::NoiseBytes(3000, 1);
  test::WriteFileBytes(dir.File("small"), data);
  const struct {
    size_t limit;
    size_t expected;
  } rows[] = {{64u << 20, 3000}, {3000, 3000}, {100, 100}, {0, 0}};
  for (const auto& row : rows) {
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(ReadFilePrefix(dir.File("small"), row.limit, &bytes, &error)) << error;
    EXPECT_EQ(bytes, test::Bytes(data.begin(), data.begin() + row.expected)) << row.limit;
    EXPECT_LE(bytes.capacity(), 1u << 20) << row.limit;
  }
}

}  // namespace
}  // namespace sfx
