// Writes the setup program's run file from the copy the run holds open, never by name (portable: the
// sharing it relies on is enforced on Windows only).
#ifndef SFXSTUB_DRIVER_HELD_FILE_COPY_H_
#define SFXSTUB_DRIVER_HELD_FILE_COPY_H_

#include <cstdint>

#include "sfxstub/archive/file_stream.h"
#include "sfxstub/result_code.h"

namespace sfx {

// The copy goes through a buffer of this size, whatever the file's.
constexpr uint32_t kHeldCopyBufferBytes = 64 * 1024;

// Copies source, from its first byte to its end, into target, a new file (a name that exists is
// refused with 183 and left as it is), and leaves held open on target for reading, letting others
// only read it: no one can write, rename or delete it until held is closed, and it can be started
// (no writer has it open). While target is written, others may only read it too.
// Returns 0, or the error of the failing step (183 for an existing target, 8 when the buffer cannot
// be had, a read or write error, 112 for a short write); on failure nothing of target stays and held
// is closed. The copy is written from an open handle, so no name the copy is made from can be
// pointed elsewhere in between.
ResultCode WriteFromHeldFile(FileStream& source, const char* target, FileStream* held);

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_HELD_FILE_COPY_H_
