#include "sfxstub/archive/file_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sfxstub/result_code.h"
#include "tests/failing_read.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

class FileStreamTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
};

TEST_F(FileStreamTest, OpenReadMeasuresAndStartsAtZero) {
  std::string path = dir.File("f");
  test::WriteFileBytes(path, test::NoiseBytes(1000, 3));
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  EXPECT_EQ(stream.Length(), 1000u);
  EXPECT_EQ(stream.position, 0u);
  EXPECT_EQ(stream.LastError(), 0u);
}

TEST_F(FileStreamTest, OpenFailuresSetLastError) {
  FileStream stream;
  EXPECT_FALSE(stream.OpenRead(dir.File("missing").c_str()));
  EXPECT_EQ(stream.LastError(), 2u);
  EXPECT_FALSE(stream.OpenWrite(dir.File("no-such-dir/x").c_str()));
  EXPECT_EQ(stream.LastError(), 2u);

  std::string path = dir.File("f");
  test::WriteFileBytes(path, {1, 2, 3});
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  EXPECT_FALSE(stream.OpenRead(path.c_str()));
  EXPECT_EQ(stream.LastError(), 6u);
  EXPECT_FALSE(stream.OpenWrite(path.c_str()));
  EXPECT_EQ(stream.LastError(), 6u);
  EXPECT_EQ(stream.Length(), 3u) << "the open file stays open";
}

TEST_F(FileStreamTest, ClosedStreamRefusesReadAndWriteWithInvalidHandle) {
  FileStream stream;
  uint8_t b = 0;
  EXPECT_FALSE(stream.Read(&b, 1, nullptr));
  EXPECT_EQ(stream.LastError(), 6u);
  EXPECT_FALSE(stream.Write(&b, 1, nullptr));
  EXPECT_EQ(stream.LastError(), 6u);
  stream.Close();
  stream.Close();
}

TEST_F(FileStreamTest, AcquireNearTheEndIsZeroFilled) {
  std::string path = dir.File("f");
  Bytes content = test::NoiseBytes(100, 5);
  for (auto& b : content) b |= 1;  // no zero bytes in the file itself
  test::WriteFileBytes(path, content);
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  stream.Seek(90, kSeekSet);
  uint8_t* block = stream.Acquire(30);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(0, std::memcmp(block, content.data() + 90, 10));
  for (int i = 10; i < 30; ++i) EXPECT_EQ(block[i], 0) << i;
  stream.Release(block);
  stream.Release(nullptr);
}

TEST_F(FileStreamTest, SeekPastTwoGigabytesReadsNothingInsteadOfWrapping) {
  std::string path = dir.File("f");
  test::WriteFileBytes(path, {9, 9, 9, 9});
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  EXPECT_EQ(stream.Seek(static_cast<int32_t>(0xF0000000u), kSeekSet), 0xF0000000u);
  uint8_t* block = stream.Acquire(4);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0, 0, 0, 0}));
  stream.Release(block);
}

TEST_F(FileStreamTest, FailedSeekThenReadFindsTheRealPosition) {
  std::string path = dir.File("f");
  test::WriteFileBytes(path, {10, 11, 12, 13, 14});
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  stream.Seek(2, kSeekSet);
  EXPECT_EQ(stream.Seek(-100, kSeekCurrent), 0xFFFFFFFFu);
  uint8_t b = 0;
  ASSERT_TRUE(stream.Read(&b, 1, nullptr));
  EXPECT_EQ(b, 12) << "the descriptor stayed where it was";
  EXPECT_EQ(stream.position, 3u);
}

TEST_F(FileStreamTest, LengthAfterWriteGrowsWithoutMovingPosition) {
  std::string path = dir.File("f");
  FileStream stream;
  ASSERT_TRUE(stream.OpenWrite(path.c_str()));
  EXPECT_EQ(stream.Length(), 0u);
  Bytes data = test::NoiseBytes(300, 7);
  uint32_t put = 0;
  ASSERT_TRUE(stream.Write(data.data(), 300, &put));
  EXPECT_EQ(put, 300u);
  stream.Seek(100, kSeekSet);
  ASSERT_TRUE(stream.Write(data.data(), 50, &put));
  EXPECT_EQ(stream.position, 150u);
  EXPECT_EQ(stream.Length(), 300u);
  EXPECT_EQ(stream.position, 150u);
  uint8_t b = 0;
  uint32_t got = 0;
  ASSERT_TRUE(stream.Read(&b, 1, &got));
  EXPECT_EQ(b, data[150]) << "the read continues where Length found the stream";
}

TEST_F(FileStreamTest, OpenWriteTruncatesAnExistingFile) {
  std::string path = dir.File("f");
  test::WriteFileBytes(path, test::NoiseBytes(50, 1));
  FileStream stream;
  ASSERT_TRUE(stream.OpenWrite(path.c_str()));
  EXPECT_EQ(stream.Length(), 0u);
  stream.Close();
  EXPECT_TRUE(test::ReadFileBytes(path).empty());
}

TEST_F(FileStreamTest, OpenNewCreatesButNeverOpensWhatExists) {
  FileStream fresh;
  ASSERT_TRUE(fresh.OpenNew(dir.File("new").c_str()));
  EXPECT_EQ(fresh.Length(), 0u);
  const Bytes kept = test::NoiseBytes(50, 1);
  test::WriteFileBytes(dir.File("file"), kept);
  std::vector<std::string> taken = {dir.File("file"), dir.path()};
#if !defined(_WIN32)
  std::filesystem::create_symlink(dir.File("file"), dir.File("link"));
  std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
  taken.push_back(dir.File("link"));
  taken.push_back(dir.File("dangling"));
#endif
  for (const std::string& path : taken) {
    FileStream stream;
    EXPECT_FALSE(stream.OpenNew(path.c_str())) << path;
    EXPECT_EQ(stream.LastError(), kErrorAlreadyExists) << path;
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("file")), kept);
  EXPECT_FALSE(test::FileExists(dir.File("nowhere"))) << "a dangling link is not followed to create";
}

TEST_F(FileStreamTest, LargeReadCrossesTheSystemReadSize) {
  std::string path = dir.File("big");
  Bytes content = test::NoiseBytes(0x800000 + 12345, 11);
  test::WriteFileBytes(path, content);
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  uint8_t* block = stream.Acquire(static_cast<uint32_t>(content.size()));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(0, std::memcmp(block, content.data(), content.size()));
  EXPECT_EQ(stream.position, content.size());
  stream.Release(block);
}

// A system read that fails inside the file is an error of the whole Read and of Acquire, never a
// short read that Acquire would pad with zeros; the end of the file is not an error.
TEST_F(FileStreamTest, FailedSystemReadFailsTheReadAndTheBlock) {
  std::string path = dir.File("big");
  Bytes content = test::NoiseBytes(0x800000 + 4096, 13);
  test::WriteFileBytes(path, content);
  FileStream stream;
  ASSERT_TRUE(stream.OpenRead(path.c_str()));
  {
    test::FailingRead failing(2);  // the second 8 MiB
    std::vector<uint8_t> buffer(content.size());
    uint32_t got = 0;
    EXPECT_FALSE(stream.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got));
    EXPECT_EQ(stream.LastError(), test::kFailedReadError);
    EXPECT_EQ(got, 0x800000u) << "what arrived before the failure";
    EXPECT_EQ(stream.position, 0x800000u);
  }
  {
    test::FailingRead failing(2);
    stream.Seek(0, kSeekSet);
    EXPECT_EQ(stream.Acquire(static_cast<uint32_t>(content.size())), nullptr);
    EXPECT_EQ(stream.LastError(), test::kFailedReadError);
  }
  stream.Seek(0, kSeekSet);
  uint8_t* block = stream.Acquire(static_cast<uint32_t>(content.size()) + 10);
  ASSERT_NE(block, nullptr) << "running into the end of the file is no failure";
  EXPECT_EQ(0, std::memcmp(block, content.data(), content.size()));
  stream.Release(block);
}

TEST_F(FileStreamTest, ReadOnlyShareRefusesSecondWriterOnWindowsOnly) {
  std::string path = dir.File("locked");
  test::WriteFileBytes(path, {1, 2, 3});
  FileStream holder;
  ASSERT_TRUE(holder.OpenRead(path.c_str(), FileShare::kReadOnly));
  FileStream reader;
  EXPECT_TRUE(reader.OpenRead(path.c_str())) << "readers are always let in";
  FileStream writer;
#if defined(_WIN32)
  EXPECT_FALSE(writer.OpenWrite(path.c_str()));
  EXPECT_EQ(writer.LastError(), 5u);
  EXPECT_NE(std::rename(path.c_str(), dir.File("moved").c_str()), 0);
#else
  EXPECT_TRUE(writer.OpenWrite(path.c_str()));
#endif
}

// Offsets and lengths are 32-bit: a file of 2 GiB or more would wrap them, so it is refused at open
// and nothing is held; one byte less still opens.
TEST_F(FileStreamTest, FilesOverTwoGigabytesMinusOneAreRefusedAsTooLarge) {
  std::string path = dir.File("sparse");
  { std::ofstream create(path, std::ios::binary); }
  std::error_code error;
  std::filesystem::resize_file(path, 0x7FFFFFFF, error);
  if (error) GTEST_SKIP() << "this file system will not make a sparse 2 GiB file: " << error.message();
  {
    FileStream largest;
    ASSERT_TRUE(largest.OpenRead(path.c_str()));
    EXPECT_EQ(largest.Length(), 0x7FFFFFFFu);
  }
  for (uintmax_t size : {uintmax_t{0x80000000u}, uintmax_t{0x100000000u}, uintmax_t{0x100000010u}}) {
    std::filesystem::resize_file(path, size, error);
    if (error) GTEST_SKIP() << "cannot grow the sparse file to " << size << ": " << error.message();
    FileStream stream;
    EXPECT_FALSE(stream.OpenRead(path.c_str())) << size;
    EXPECT_EQ(stream.LastError(), 223u) << size;
    EXPECT_FALSE(stream.IsOpen()) << size;
    uint8_t b = 0;
    EXPECT_FALSE(stream.Read(&b, 1, nullptr)) << size << ": nothing stays open to read";
  }
}

struct ErrnoCase {
  int error;
  uint32_t code;
};

TEST(ErrnoToSystemError, MapsEveryListedCondition) {
  const ErrnoCase cases[] = {
      {ENOENT, 2},  {E2BIG, 10},   {ENOEXEC, 11}, {EBADF, 6},    {ECHILD, 128},    {EAGAIN, 89},
      {ENOMEM, 8},  {EACCES, 5},   {EEXIST, 183}, {EXDEV, 17},   {ENODEV, 15},     {ENOTDIR, 3},
      {EINVAL, 87}, {EMFILE, 4},   {ENOSPC, 112}, {EPIPE, 109},  {ENOTEMPTY, 145}, {EIO, 1117}, {EDOM, 120},
      {0, 120},     {99999, 120},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrnoToSystemError(c.error), c.code) << "errno " << c.error;
}

}  // namespace
}  // namespace sfx
