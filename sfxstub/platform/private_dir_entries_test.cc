#include "sfxstub/platform/private_dir_entries.h"

#include <gtest/gtest.h>

#include <map>

namespace sfx {
namespace {

std::map<DirTrustee, DirAccess> Entries(bool elevated) {
  DirEntry entries[kMaxDirEntries];
  size_t count = PrivateDirEntries(elevated, entries);
  std::map<DirTrustee, DirAccess> byTrustee;
  for (size_t i = 0; i < count; ++i) EXPECT_TRUE(byTrustee.emplace(entries[i].trustee, entries[i].access).second);
  return byTrustee;
}

// An elevated run's user has unelevated processes too: an entry of its own would let them rename or
// rewrite what the elevated run starts.
TEST(PrivateDirEntries, ElevatedRunGivesTheUserNoEntryOfItsOwn) {
  const std::map<DirTrustee, DirAccess> elevated = {{DirTrustee::kSystem, DirAccess::kFull},
                                                    {DirTrustee::kAdministrators, DirAccess::kFull},
                                                    {DirTrustee::kEveryone, DirAccess::kReadExecute}};
  EXPECT_EQ(Entries(true), elevated);
  std::map<DirTrustee, DirAccess> plain = elevated;
  plain[DirTrustee::kCurrentUser] = DirAccess::kFull;
  EXPECT_EQ(Entries(false), plain);
}

}  // namespace
}  // namespace sfx
