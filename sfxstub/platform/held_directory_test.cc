#include "sfxstub/platform/held_directory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::BytesOf;
using test::WriteFileBytes;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class HeldDirectoryTest : public ::testing::Test {
 protected:
  // scratch\parent\run, holding two files, held.
  void SetUp() override {
    parent = scratch.File("parent");
    run = parent + "\\run";
    ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(run.c_str(), nullptr));
    WriteFileBytes(run + "\\a.txt", BytesOf("a"));
    WriteFileBytes(run + "\\setup.ovr", BytesOf("b"));
    ASSERT_EQ(held.Hold(run.c_str()), kOk);
  }
  test::ScratchDir scratch;
  std::string parent, run;
  HeldDirectory held;
};

TEST_F(HeldDirectoryTest, HeldDirectoryCannotBeRenamedAndIsRemovedWithItsFiles) {
  EXPECT_TRUE(held.IsNamedBy(run.c_str()));
  EXPECT_FALSE(held.IsNamedBy(parent.c_str()));
  EXPECT_FALSE(MoveFileA(run.c_str(), (parent + "\\away").c_str()));
  EXPECT_TRUE(Exists(run));
  EXPECT_EQ(held.Remove(), kOk);
  EXPECT_FALSE(held.IsHeld());
  EXPECT_FALSE(Exists(run));
}

TEST_F(HeldDirectoryTest, OnlyADirectoryItselfIsHeld) {
  HeldDirectory other;
  EXPECT_EQ(other.Hold((run + "\\a.txt").c_str()), kErrorDirectory);
  EXPECT_EQ(other.Hold((run + "\\missing").c_str()), kErrorFileNotFound);
  EXPECT_EQ(other.Hold(("C:\\" + std::string(260, 'x')).c_str()), kErrorFilenameExceedsRange);
  EXPECT_FALSE(other.IsHeld());
}

// A folder above the held one renamed (Windows refuses that while the handle is open; Wine allows it)
// and another folder put where the held one was: the path no longer names the held folder, and
// nothing of what stands there now is deleted.
TEST_F(HeldDirectoryTest, NothingIsDeletedWhenThePathNamesAnotherFolder) {
  const std::string moved = scratch.File("moved");
  if (!MoveFileA(parent.c_str(), moved.c_str())) {
    GTEST_SKIP() << "this system refuses to rename a folder above a held one (" << GetLastError() << ")";
  }
  ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(run.c_str(), nullptr));
  WriteFileBytes(run + "\\canary.txt", BytesOf("c"));
  EXPECT_FALSE(held.IsNamedBy(run.c_str()));
  EXPECT_EQ(held.Remove(), kErrorPathNotFound);
  EXPECT_TRUE(Exists(run + "\\canary.txt"));
  EXPECT_TRUE(Exists(moved + "\\run\\a.txt")) << "the held folder is left where it went";
}

// A link inside is removed itself, never entered: what it points to stays whole.
TEST_F(HeldDirectoryTest, LinkInsideIsNotEntered) {
  const std::string victim = scratch.File("victim");
  ASSERT_TRUE(CreateDirectoryA(victim.c_str(), nullptr));
  WriteFileBytes(victim + "\\precious.txt", BytesOf("p"));
  if (!CreateSymbolicLinkA((run + "\\link").c_str(), victim.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "no directory links here (" << GetLastError() << ")";
  }
  held.Remove();
  EXPECT_TRUE(Exists(victim + "\\precious.txt"));
}

}  // namespace
}  // namespace sfx
