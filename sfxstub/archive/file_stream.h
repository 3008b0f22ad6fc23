#ifndef SFXSTUB_ARCHIVE_FILE_STREAM_H_
#define SFXSTUB_ARCHIVE_FILE_STREAM_H_

#include "sfxstub/archive/byte_stream.h"

namespace sfx {

// What other openers of the same file may do while this stream holds it open. Only Windows enforces
// it; elsewhere every opener may read and write.
enum class FileShare { kReadWrite, kReadOnly };

// A stream over a POSIX-style file descriptor, always in untranslated byte mode and never inherited by
// child processes. Files of 2 GiB or more are refused (LastError 223): all offsets here are 32-bit.
class FileStream : public ByteStream {
 public:
  FileStream() = default;
  ~FileStream() override { Close(); }

  // Opens an existing file for reading. kReadOnly denies writers, renames and deletion while the
  // stream stays open.
  bool OpenRead(const char* path, FileShare share = FileShare::kReadWrite);
  // Creates or truncates a file for reading and writing.
  bool OpenWrite(const char* path);
  // Creates a new file for reading and writing: a name that exists already (a file, a directory, a
  // link, dangling or not) is refused with 183 and left as it is, and no link is ever followed.
  // kReadOnly lets others only read it while the stream stays open (no writers, renames, deletion).
  bool OpenNew(const char* path, FileShare share = FileShare::kReadWrite);

  // Stops early only at the end of the file. A failed system read fails the whole Read: false, with
  // LastError the system's error and transferred the bytes that arrived before it.
  bool Read(void* buffer, uint32_t count, uint32_t* transferred) override;
  // A write the system cuts short (a full disk) succeeds with transferred below count; a failed one
  // keeps the system's own error code where the runtime has it.
  bool Write(const void* buffer, uint32_t count, uint32_t* transferred) override;
  // A zero-filled heap block of count bytes, then read from position: bytes past the end stay zero.
  // Null when the block cannot be had (LastError 8) or the read fails (LastError the read's error).
  uint8_t* Acquire(uint32_t count) override;
  void Release(uint8_t* block) override;
  // With origin kSeekSet the offset is taken as an unsigned 32-bit position.
  uint32_t Seek(int32_t offset, int origin) override;
  void Close() override;
  uint32_t Length() override;
  // Sets the open file's last-access and last-modification times to time (seconds since 1970 UTC,
  // taken as a signed 32-bit value), through the descriptor: never another file that its name may
  // lead to by then.
  bool SetTimes(uint32_t time);

  bool IsOpen() const { return open; }
  // Windows system error code of the last failed operation; never reset by a later success.
  uint32_t LastError() const { return lastError; }

 private:
  bool OpenForWriting(const char* path, int flags, FileShare share);
  bool FinishOpen();
  void RecordErrno(int error);
  void RecordSystemError();
  uint32_t DescriptorOffsetAfter(uint32_t moved);

  bool open = false;
  bool written = false;
  int descriptor = -1;
  uint32_t lastError = 0;
};

// Maps a C runtime errno value to the Windows system error code that means the same.
uint32_t ErrnoToSystemError(int error);

// The system read every FileStream makes: bytes read, 0 at the end of the file, or -1 with errno set.
// Tests put one in that fails; null puts the system's back. Returns the one it replaces.
using SystemReadFn = int (*)(int descriptor, void* buffer, uint32_t count);
SystemReadFn SetSystemReadForTesting(SystemReadFn read);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_FILE_STREAM_H_
