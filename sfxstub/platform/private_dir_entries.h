// Who may do what in a run's private directory: the entries of its access list, decided here without
// Windows so that the rule can be tested anywhere (Wine keeps access lists but enforces none).
// private_dir_security.h turns them into a security descriptor.
#ifndef SFXSTUB_PLATFORM_PRIVATE_DIR_ENTRIES_H_
#define SFXSTUB_PLATFORM_PRIVATE_DIR_ENTRIES_H_

#include <cstddef>

namespace sfx {

enum class DirTrustee { kSystem, kAdministrators, kCurrentUser, kEveryone };
enum class DirAccess { kFull, kReadExecute };

struct DirEntry {
  DirTrustee trustee;
  DirAccess access;
};

constexpr size_t kMaxDirEntries = 4;

// Fills entries and returns how many there are: SYSTEM and the Administrators in full, Everyone may
// read and execute, and the user this process runs as in full unless its token is elevated. An
// elevated run's user also has unelevated processes (UAC's filtered token), which must not be able to
// change what the elevated run extracts and starts; the elevated run itself reaches the directory
// through the Administrators.
size_t PrivateDirEntries(bool elevated, DirEntry (&entries)[kMaxDirEntries]);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_PRIVATE_DIR_ENTRIES_H_
