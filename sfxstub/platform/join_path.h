#ifndef SFXSTUB_PLATFORM_JOIN_PATH_H_
#define SFXSTUB_PLATFORM_JOIN_PATH_H_

#include "sfxstub/platform/text.h"

namespace sfx {

// The separator JoinPath inserts: '\\' on Windows; '/' elsewhere, so that the packaging tool
// extracts with the same code on Linux.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Joins a directory and a name with one separator. A quoted directory gives a quoted path; a name
// that starts with ':' follows the directory's last component directly. name may be null.
Text JoinPath(const Text& directory, const char* name, char separator = kPathSeparator);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_JOIN_PATH_H_
