#include "sfxstub/driver/held_file_copy.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sfx {
namespace {

using test::Bytes;

TEST(WriteFromHeldFile, CopiesTheWholeHeldFileThroughItsBufferAndKeepsTheCopyHeld) {
  test::ScratchDir scratch;
  const std::string sourcePath = scratch.File("setup.ovr");
  const std::string targetPath = scratch.File("kelvo.setup");
  for (size_t size : {size_t{0}, size_t{kHeldCopyBufferBytes} * 3 + 17}) {
    const Bytes bytes = test::NoiseBytes(size, 7);
    test::WriteFileBytes(sourcePath, bytes);
    FileStream source;
    ASSERT_TRUE(source.OpenRead(sourcePath.c_str(), FileShare::kReadOnly));
    source.Seek(static_cast<int32_t>(size / 2), kSeekSet);  // wherever the last reader left it
    FileStream held;
    ASSERT_EQ(WriteFromHeldFile(source, targetPath.c_str(), &held), kOk) << size;
    EXPECT_TRUE(held.IsOpen());
    EXPECT_EQ(test::ReadFileBytes(targetPath), bytes) << size;
    held.Close();
    source.Close();
    std::remove(targetPath.c_str());
  }
}

// Something standing under the name (planted, or left over) is never written over or run.
TEST(WriteFromHeldFile, NameThatExistsIsRefusedAndLeftAsItIs) {
  test::ScratchDir scratch;
  const std::string sourcePath = scratch.File("setup.ovr");
  const std::string targetPath = scratch.File("kelvo.setup");
  test::WriteFileBytes(sourcePath, test::BytesOf("ours"));
  test::WriteFileBytes(targetPath, test::BytesOf("planted"));
  FileStream source;
  ASSERT_TRUE(source.OpenRead(sourcePath.c_str()));
  FileStream held;
  EXPECT_EQ(WriteFromHeldFile(source, targetPath.c_str(), &held), kErrorAlreadyExists);
  EXPECT_FALSE(held.IsOpen());
  EXPECT_EQ(test::ReadFileBytes(targetPath), test::BytesOf("planted"));
}

#if defined(_WIN32)
// While held, the copy can be read and started by others, never written, renamed or deleted.
TEST(WriteFromHeldFile, HeldCopyLetsOthersOnlyRead) {
  test::ScratchDir scratch;
  const std::string sourcePath = scratch.File("setup.ovr");
  const std::string targetPath = scratch.File("kelvo.setup");
  test::WriteFileBytes(sourcePath, test::BytesOf("program"));
  FileStream source;
  ASSERT_TRUE(source.OpenRead(sourcePath.c_str(), FileShare::kReadOnly));
  FileStream held;
  ASSERT_EQ(WriteFromHeldFile(source, targetPath.c_str(), &held), kOk);

  HANDLE reader = CreateFileA(targetPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "a reader as CreateProcess opens the image";
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileA(targetPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileA(targetPath.c_str(), scratch.File("elsewhere").c_str()));
  EXPECT_FALSE(DeleteFileA(targetPath.c_str()));

  held.Close();
  EXPECT_TRUE(DeleteFileA(targetPath.c_str()));
}
#endif

}  // namespace
}  // namespace sfx
