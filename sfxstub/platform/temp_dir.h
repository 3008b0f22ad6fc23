// The run's private temporary directory (Windows only): a directory this run created under "TEMP"
// (else "TMP", else the folder GetTempPathA names; each only when it is an existing folder), named
// after the calling thread, with an access list of its own from the moment it exists
// (private_dir_security.h): Everyone may read and execute but not change it. It is held open from its
// creation (held_directory.h), so that it cannot be renamed or swapped while the run uses it.
#ifndef SFXSTUB_PLATFORM_TEMP_DIR_H_
#define SFXSTUB_PLATFORM_TEMP_DIR_H_

#include <windows.h>
#include <aclapi.h>

#include <cstdint>

#include "sfxstub/platform/held_directory.h"
#include "sfxstub/platform/private_dir_security.h"
#include "sfxstub/result_code.h"

namespace sfx {

constexpr char kTempDirPrefix[] = "_kv_sfx.tm~";

// Creates base\<prefix><letter><five digits of the thread id>, with PrivateDirSecurity's descriptor
// given to CreateDirectoryA itself, holds it in held, and writes its path, without a trailing
// separator, into buffer. Only a directory this call created is ever returned: a name that exists,
// whose existence cannot be tested, or that CreateDirectoryA reports as existing is taken, and the
// next letter is tried. Nothing is made anywhere else: with no usable base the result is 3.
// Returns GrantEveryoneAccess's result once the directory exists and is held (the directory is
// usable whatever that result). Otherwise buffer holds an empty string, nothing is held, and the
// result is 3 (no base), 82 when every letter from 'a' to 'z' is taken, 206 when the path would not
// fit size bytes, or the error of building the descriptor, of CreateDirectoryA or of the hold.
ResultCode CreatePrivateTempDir(char* buffer, uint32_t size, const char* prefix, HeldDirectory* held);
// The same with a given thread identifier (tests).
ResultCode CreatePrivateTempDirForThread(char* buffer, uint32_t size, const char* prefix,
                                         uint32_t threadId, HeldDirectory* held);

// Merges one entry into path's access list: Everyone may read and execute the object, and what is
// created inside inherits that. Nothing is removed, and the list is written back protected: writing
// an unprotected list would bring the parent's inheritable entries back.
// Returns 0 (also outside the NT family, with nothing done), 182 when the security functions are
// missing, or the failing call's error; on failure the access list is unchanged.
ResultCode GrantEveryoneAccess(const char* path, SE_OBJECT_TYPE objectType);
// The same with the security functions looked up in another library (tests).
ResultCode GrantEveryoneAccessFrom(const char* libraryName, const char* path,
                                   SE_OBJECT_TYPE objectType);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_TEMP_DIR_H_
