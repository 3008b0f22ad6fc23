#include "sfxstub/platform/private_dir_entries.h"

namespace sfx {

size_t PrivateDirEntries(bool elevated, DirEntry (&entries)[kMaxDirEntries]) {
  size_t count = 0;
  entries[count++] = {DirTrustee::kSystem, DirAccess::kFull};
  entries[count++] = {DirTrustee::kAdministrators, DirAccess::kFull};
  if (!elevated) entries[count++] = {DirTrustee::kCurrentUser, DirAccess::kFull};
  entries[count++] = {DirTrustee::kEveryone, DirAccess::kReadExecute};
  return count;
}

}  // namespace sfx
