#include "tools/sfxpack/security/private_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace sfx {
namespace {

namespace fs = std::filesystem;

class PrivateFolderTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string error;
};

TEST_F(PrivateFolderTest, CommandRunsInsideOnPlainNamesAndEverythingGoesAfterwards) {
  const std::string outside = dir.File("outside.txt");
  test::WriteFileBytes(outside, test::BytesOf("kept"));
  std::string path;
  {
    PrivateFolder folder;
    ASSERT_TRUE(folder.Create(dir.File("pkg.exe"), &error)) << error;
    path = folder.path();
    EXPECT_EQ(path.rfind(dir.File("pkg.exe."), 0), 0u) << path;
#if !defined(_WIN32)
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
    ASSERT_TRUE(folder.WriteFile("in.exe", test::BytesOf("input"), &error)) << error;
    EXPECT_FALSE(folder.WriteFile("in.exe", test::BytesOf("again"), &error)) << "written new only";
#if defined(_WIN32)
    EXPECT_EQ(folder.Run("copy in.exe out.exe >NUL && mkdir sub && copy in.exe sub\\x >NUL"), "");
    EXPECT_EQ(folder.Run("exit 3"), "exited with status 3");
#else
    EXPECT_EQ(folder.Run("cp in.exe out.exe && mkdir sub && cp in.exe sub/x && ln -s " + outside + " link"), "");
    EXPECT_EQ(folder.Run("exit 3"), "exited with status 3");
    test::Bytes linked;
    EXPECT_FALSE(folder.ReadFile("link", &linked, &error)) << "never through a link";
#endif
    test::Bytes out;
    ASSERT_TRUE(folder.ReadFile("out.exe", &out, &error)) << error;
    EXPECT_EQ(out, test::BytesOf("input"));
    EXPECT_FALSE(test::FileExists(dir.File("out.exe"))) << "the tool's own working directory is unchanged";
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(test::ReadFileBytes(outside), test::BytesOf("kept"));
}

#if !defined(_WIN32)
// Whoever can write beside the output may rename the folder away and put their own at its name: the
// files and the command still go to the folder made, and theirs is left alone.
TEST_F(PrivateFolderTest, AFolderSwappedInAtItsNameIsNeverUsedNorRemoved) {
  PrivateFolder folder;
  ASSERT_TRUE(folder.Create(dir.File("pkg.exe"), &error)) << error;
  const std::string path = folder.path();
  fs::rename(path, dir.File("moved"));
  fs::create_directory(path);
  test::WriteFileBytes(path + "/in.exe", test::BytesOf("planted"));
  ASSERT_TRUE(folder.WriteFile("in.exe", test::BytesOf("ours"), &error)) << error;
  EXPECT_EQ(folder.Run("cp in.exe out.exe"), "");
  EXPECT_EQ(test::ReadFileBytes(dir.File("moved/out.exe")), test::BytesOf("ours"));
  folder.Remove();
  EXPECT_EQ(test::ReadFileBytes(path + "/in.exe"), test::BytesOf("planted"));
  EXPECT_TRUE(fs::is_empty(dir.File("moved")));
}
#endif

}  // namespace
}  // namespace sfx
