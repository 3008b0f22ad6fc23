#include "sfxstub/platform/dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace sfx {
namespace {

// sfx_planted.dll lies beside this test program, as a DLL planted in a download folder would.
TEST(RestrictDllSearchToSystem32, APlantedDllIsNoLongerLoaded) {
  HMODULE before = LoadLibraryA("sfx_planted.dll");
  ASSERT_NE(before, nullptr) << "the planted DLL must load before the restriction";
  FreeLibrary(before);

  EXPECT_TRUE(RestrictDllSearchToSystem32());
  EXPECT_EQ(LoadLibraryA("sfx_planted.dll"), nullptr);
  // System DLLs still load.
  HMODULE system = LoadLibraryA("version.dll");
  EXPECT_NE(system, nullptr);
  if (system) FreeLibrary(system);
}

}  // namespace
}  // namespace sfx
