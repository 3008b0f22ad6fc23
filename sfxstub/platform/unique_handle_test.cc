#include "sfxstub/platform/unique_handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace sfx {
namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnceAndMovesOwnership) {
  HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle first(raw);
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    EXPECT_EQ(second.Get(), raw);
    UniqueHandle third;
    third = std::move(second);
    EXPECT_FALSE(second.IsValid());
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueHandle, ResetAndReleaseAndInvalidValues) {
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  UniqueHandle owner(a);
  owner.Reset(b);
  EXPECT_FALSE(IsOpen(a));
  EXPECT_TRUE(IsOpen(b));
  HANDLE released = owner.Release();
  EXPECT_FALSE(owner.IsValid());
  EXPECT_TRUE(IsOpen(released));
  CloseHandle(released);

  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).IsValid());
  EXPECT_FALSE(UniqueFindHandle().IsValid());
  EXPECT_FALSE(UniqueFindHandle(INVALID_HANDLE_VALUE).IsValid());
}

TEST(UniqueLibrary, ReceiveReleasesWhatWasHeld) {
  UniqueLocalMemory<char> memory(static_cast<char*>(LocalAlloc(LMEM_FIXED, 16)));
  ASSERT_TRUE(memory.IsValid());
  char** slot = memory.Receive();
  EXPECT_EQ(*slot, nullptr);
  *slot = static_cast<char*>(LocalAlloc(LMEM_FIXED, 16));
  EXPECT_TRUE(memory.IsValid());

  UniqueLibrary library(LoadLibraryA("advapi32.dll"));
  EXPECT_TRUE(library.IsValid());
}

}  // namespace
}  // namespace sfx
