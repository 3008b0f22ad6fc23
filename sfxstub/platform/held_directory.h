// A directory held open from its creation to its removal (Windows only). The handle shares reading
// and writing but not deletion, so the directory cannot be renamed, moved or removed while it is held
// (and on Windows neither can a folder above it); it is opened on the directory itself, never through
// a reparse point. The removal works by path, but only after checking that the path still names the
// directory held, and it never enters a link found inside.
#ifndef SFXSTUB_PLATFORM_HELD_DIRECTORY_H_
#define SFXSTUB_PLATFORM_HELD_DIRECTORY_H_

#include <windows.h>

#include "sfxstub/platform/path_limits.h"
#include "sfxstub/platform/unique_handle.h"
#include "sfxstub/result_code.h"

namespace sfx {

class HeldDirectory {
 public:
  HeldDirectory() = default;
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  // Opens the directory at path and keeps it. Returns 0, 206 when the path does not fit 260 bytes,
  // 267 when it names no directory (a file, or a link to a directory), or the error of the open.
  ResultCode Hold(const char* path);
  bool IsHeld() const { return handle.IsValid(); }
  // True when path names the directory held now: the same volume serial number and file index.
  bool IsNamedBy(const char* path) const;
  // True when the path it was held by still names it.
  bool IsStillNamed() const { return IsNamedBy(path); }

  // Deletes the held directory's entries and the directory itself, then lets it go. A file (or a
  // link to a file) goes to DeleteFileWithRetry; a link to a directory or a junction is removed
  // itself, never entered; a real subdirectory is not entered either and stays, and so does the
  // directory then (145). When the held path no longer names the held directory nothing is deleted,
  // the hold is let go and the result is 3. Returns 0 (also when nothing is held) or the last error
  // met. Uses no heap: it also runs when memory has run out.
  ResultCode Remove();
  // Lets the directory go without removing it.
  void Release() { handle.Reset(); }

 private:
  UniqueHandle handle;
  char path[kMaxPathBytes] = {};
};

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_HELD_DIRECTORY_H_
