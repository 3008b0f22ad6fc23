#include "tools/sfxpack/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// Compressed files wait in scratch files. msvcrt's tmpfile() makes them in the drive's root, where
// a user who is not an administrator may not write: the build failed there.
TEST(OpenScratchFile, ReadsBackWhatWasWrittenAndLeavesNothingBehind) {
  test::ScratchDir dir;
#if defined(_WIN32)
  ASSERT_EQ(_putenv_s("TMP", dir.path().c_str()), 0);
#endif
  std::FILE* file = OpenScratchFile();
  ASSERT_NE(file, nullptr) << std::strerror(errno);
  ASSERT_EQ(std::fwrite("scratch", 1, 7, file), 7u);
  std::rewind(file);
  char back[8] = {};
  EXPECT_EQ(std::fread(back, 1, 7, file), 7u);
  EXPECT_STREQ(back, "scratch");
  std::vector<std::string> names;
  std::string reason;
#if defined(_WIN32)
  ASSERT_TRUE(ListDirectory(dir.path(), &names, &reason)) << reason;
  EXPECT_EQ(names.size(), 1u) << "not in the user's temporary folder";
#endif
  std::fclose(file);
  names.clear();
  ASSERT_TRUE(ListDirectory(dir.path(), &names, &reason)) << reason;
  EXPECT_TRUE(names.empty());
#if defined(_WIN32)
  _putenv_s("TMP", "");
#endif
}

}  // namespace
}  // namespace sfx
