#include "sfxstub/platform/file_utils.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::BytesOf;
using test::ReadFileBytes;
using test::WriteFileBytes;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FileUtilsTest : public ::testing::Test {
 protected:
  // dir holding two files.
  std::string MakeDirectory(const char* name) {
    std::string dir = scratch.File(name);
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    WriteFileBytes(dir + "\\a.txt", BytesOf("a"));
    WriteFileBytes(dir + "\\b.bin", BytesOf("b"));
    return dir;
  }
  test::ScratchDir scratch;
};

// The copy makes a new file or fails: whatever already stands at the target (a file someone planted,
// held open or not) stays as it is and the copy's error comes back.
TEST_F(FileUtilsTest, CopyNeverReplacesAnExistingTargetAndDeleteRemoves) {
  const std::string source = scratch.File("source");
  const std::string target = scratch.File("target");
  WriteFileBytes(source, BytesOf("new"));
  WriteFileBytes(target, BytesOf("planted"));
  EXPECT_EQ(CopyFileWithRetry(source.c_str(), target.c_str()), static_cast<ResultCode>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFileBytes(target), BytesOf("planted"));
  DeleteFileWithRetry(target.c_str());
  EXPECT_EQ(CopyFileWithRetry(source.c_str(), target.c_str()), kOk);
  EXPECT_EQ(ReadFileBytes(target), BytesOf("new"));
  DeleteFileWithRetry(target.c_str());
  EXPECT_FALSE(Exists(target));
  EXPECT_TRUE(Exists(source));
}

TEST_F(FileUtilsTest, RemoveDirectoryTreeWithFilesOnly) {
  const std::string dir = MakeDirectory("flat");
  EXPECT_EQ(RemoveDirectoryTree(dir.c_str(), "*.*", false), kOk);
  EXPECT_FALSE(Exists(dir));
  EXPECT_TRUE(Exists(scratch.path()));
}

TEST_F(FileUtilsTest, RemoveDirectoryTreeLeavesASubdirectoryWithoutRecursion) {
  const std::string dir = MakeDirectory("nested");
  ASSERT_TRUE(CreateDirectoryA((dir + "\\sub").c_str(), nullptr));
  WriteFileBytes(dir + "\\sub\\inner.txt", BytesOf("i"));
  // The subdirectory goes to the delete with retries, which cannot delete it.
  EXPECT_EQ(RemoveDirectoryTree(dir.c_str(), "*.*", false), kErrorDirNotEmpty);
  EXPECT_FALSE(Exists(dir + "\\a.txt"));
  EXPECT_FALSE(Exists(dir + "\\b.bin"));
  EXPECT_TRUE(Exists(dir + "\\sub\\inner.txt"));

  // With recursion the whole tree goes, deepest first.
  EXPECT_EQ(RemoveDirectoryTree(dir.c_str(), "*.*", true), kOk);
  EXPECT_FALSE(Exists(dir));
}

TEST_F(FileUtilsTest, RemoveDirectoryTreeDeletesOnlyWhatThePatternMatches) {
  const std::string dir = MakeDirectory("pattern");
  EXPECT_EQ(RemoveDirectoryTree(dir.c_str(), "*.txt", false), kErrorDirNotEmpty);
  EXPECT_FALSE(Exists(dir + "\\a.txt"));
  EXPECT_TRUE(Exists(dir + "\\b.bin"));
}

TEST_F(FileUtilsTest, RemoveDirectoryTreeOfNothingOrOfAFile) {
  EXPECT_EQ(RemoveDirectoryTree(scratch.File("missing").c_str(), "*.*", false), kOk);
  const std::string file = scratch.File("file.txt");
  WriteFileBytes(file, BytesOf("f"));
  EXPECT_EQ(RemoveDirectoryTree(file.c_str(), "*.*", false), kOk);  // not a directory: skipped
  EXPECT_TRUE(Exists(file));
}

TEST_F(FileUtilsTest, RemoveDirectoryTreeTakesEveryDirectoryThePatternNames) {
  const std::string one = MakeDirectory("run1");
  const std::string two = MakeDirectory("run2");
  const std::string other = MakeDirectory("keep");
  EXPECT_EQ(RemoveDirectoryTree(scratch.File("run?").c_str(), "*.*", false), kOk);
  EXPECT_FALSE(Exists(one));
  EXPECT_FALSE(Exists(two));
  EXPECT_TRUE(Exists(other));
}

}  // namespace
}  // namespace sfx
