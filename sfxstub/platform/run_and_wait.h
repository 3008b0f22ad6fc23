// Runs one program to its end (Windows only). The child is created suspended, may take the
// foreground, and is resumed only after the progress window is gone.
#ifndef SFXSTUB_PLATFORM_RUN_AND_WAIT_H_
#define SFXSTUB_PLATFORM_RUN_AND_WAIT_H_

#include <cstdint>

#include "sfxstub/result_code.h"

namespace sfx {

// program is started as an executable image whatever its extension (it is the application name: no
// search path). Its command line is the quoted program path, then one blank and arguments when they
// are not null. Blocks until the child ends.
// Returns 0 when the child ran to its end and its exit code was read, whatever that code; otherwise
// the error of the failing call, or 206 when the command line is longer than CreateProcess takes
// (32,767 characters with its terminator; nothing is started). exitCode (may be null) is 0 unless the result is 0. The progress window is stopped once
// the child exists, and left alone when it could not be created.
ResultCode RunAndWait(const char* program, const char* arguments, uint32_t* exitCode);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_RUN_AND_WAIT_H_
