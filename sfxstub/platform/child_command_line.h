// The command line a child process is created with: the program path in double quotes, then, when
// arguments are given, one blank and the arguments unchanged. It may be as long as CreateProcess
// allows (kMaxCommandLineChars with its terminator); a longer one is refused, never cut.
#ifndef SFXSTUB_PLATFORM_CHILD_COMMAND_LINE_H_
#define SFXSTUB_PLATFORM_CHILD_COMMAND_LINE_H_

#include <cstddef>

#include "sfxstub/platform/path_limits.h"
#include "sfxstub/platform/text.h"
#include "sfxstub/result_code.h"

namespace sfx {

// arguments may be null (none: the quoted path alone); an empty text is present and gives the path
// and one blank. Returns 0, or 206 with commandLine cleared when the result needs more than
// kMaxCommandLineChars characters with its terminator.
ResultCode FormatChildCommandLine(const char* program, const char* arguments, Text* commandLine);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_CHILD_COMMAND_LINE_H_
