// Copy and delete with retries, and the removal of a directory's contents (Windows only). Paths are
// ANSI; '\\' is the only separator.
#ifndef SFXSTUB_PLATFORM_FILE_UTILS_H_
#define SFXSTUB_PLATFORM_FILE_UTILS_H_

#include "sfxstub/result_code.h"

namespace sfx {

// Copies source to target, which must not exist yet (CopyFileA failing when it does), under the retry
// policy of retry.h. Returns 0, or the last attempt's error (80 when target exists).
ResultCode CopyFileWithRetry(const char* source, const char* target);
// DeleteFileA under the same policy. Gives up silently.
void DeleteFileWithRetry(const char* path);

// For each directory matching directory (an exact path matches itself alone): deletes the entries
// matching entryPattern inside it, recursing into subdirectories when recurse is set (else a
// subdirectory goes to DeleteFileWithRetry, which cannot delete it), then removes the directory.
// Changes no attributes; goes on after every failure. Returns 0, or the last error met (145 when a
// subdirectory or an undeletable file stays). A directory that matches nothing gives 0.
ResultCode RemoveDirectoryTree(const char* directory, const char* entryPattern, bool recurse);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_FILE_UTILS_H_
