// Runs after every end-to-end test, alone: no temporary directory of the stub's outlives the suite in
// any folder a run can make one in, and no scratch folder of the tests either. Cases that expect a
// directory to stay remove it themselves.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/wine/stub_fixture.h"

namespace sfx {
namespace test {
namespace {

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

// Every folder a run of the stub may have used as its base: the system's temporary folders, the
// users' ones, the fallback "C:\\TEMP", and what TEMP and TMP say here.
std::vector<std::string> TemporaryBases() {
  std::vector<std::string> bases = {"C:\\TEMP", "C:\\windows\\temp"};
  char path[MAX_PATH] = "";
  if (GetTempPathA(sizeof path, path) != 0) bases.push_back(WithoutTrailingSeparator(path));
  for (const char* name : {"TEMP", "TMP"}) {
    if (const char* value = std::getenv(name)) bases.push_back(WithoutTrailingSeparator(value));
  }
  for (const std::string& user : Entries("C:\\users")) {
    bases.push_back("C:\\users\\" + user + "\\Temp");
    bases.push_back("C:\\users\\" + user + "\\AppData\\Local\\Temp");
  }
  std::set<std::string> seen;
  std::vector<std::string> distinct;
  for (const std::string& base : bases) {
    std::string key = base;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (seen.insert(key).second) distinct.push_back(base);
  }
  return distinct;
}

TEST(Leftovers, NoRunDirectoryOrScratchFolderOutlivesTheSuite) {
  size_t looked = 0;
  for (const std::string& base : TemporaryBases()) {
    if (!Exists(base)) continue;
    ++looked;
    EXPECT_EQ(RunDirectoriesIn(base), std::vector<std::string>()) << "left in " << base;
  }
  EXPECT_GE(looked, 2u) << "the prefix's temporary folders were not found";
  EXPECT_FALSE(Exists(ShortScratch::kRoot)) << "scratch folders left: " << ::testing::PrintToString(Entries(ShortScratch::kRoot));
}

}  // namespace
}  // namespace test
}  // namespace sfx
