#include "sfxstub/archive/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sfxstub/result_code.h"

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <sys/utime.h>
#else
#include <sys/time.h>
#include <unistd.h>
#endif

namespace sfx {
namespace {

constexpr uint32_t kMaxSystemRead = 0x800000;  // 8 MiB per system read
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

#if defined(_WIN32)
int SysRead(int fd, void* buffer, uint32_t count) { return _read(fd, buffer, count); }
int SysWrite(int fd, const void* buffer, uint32_t count) { return _write(fd, buffer, count); }
int64_t SysSeek(int fd, int64_t offset, int origin) { return _lseeki64(fd, offset, origin); }
int SysClose(int fd) { return _close(fd); }
int SysOpen(const char* path, int flags, int share, int mode) {
  int fd = -1;
  errno = _sopen_s(&fd, path, flags | _O_BINARY | _O_NOINHERIT, share, mode);
  return errno == 0 ? fd : -1;
}
int OpenReadFlags() { return _O_RDONLY; }
int OpenWriteFlags() { return _O_RDWR | _O_CREAT | _O_TRUNC; }
// CREATE_NEW underneath: an existing name, a reparse point included, is an error.
int OpenNewFlags() { return _O_RDWR | _O_CREAT | _O_EXCL; }
int ShareFlags(FileShare share) { return share == FileShare::kReadOnly ? _SH_DENYWR : _SH_DENYNO; }
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;
#else
int SysRead(int fd, void* buffer, uint32_t count) { return static_cast<int>(read(fd, buffer, count)); }
int SysWrite(int fd, const void* buffer, uint32_t count) {
  return static_cast<int>(write(fd, buffer, count));
}
int64_t SysSeek(int fd, int64_t offset, int origin) { return lseek(fd, offset, origin); }
int SysClose(int fd) { return close(fd); }
int SysOpen(const char* path, int flags, int, int mode) { return open(path, flags | O_CLOEXEC, mode); }
int OpenReadFlags() { return O_RDONLY; }
int OpenWriteFlags() { return O_RDWR | O_CREAT | O_TRUNC; }
// With O_EXCL a symbolic link at the name is an existing name; O_NOFOLLOW says so twice.
int OpenNewFlags() { return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; }
int ShareFlags(FileShare) { return 0; }
constexpr int kCreateMode = 0666;
#endif

SystemReadFn systemRead = SysRead;

}  // namespace

SystemReadFn SetSystemReadForTesting(SystemReadFn read) {
  SystemReadFn previous = systemRead;
  systemRead = read != nullptr ? read : SysRead;
  return previous;
}

uint32_t ErrnoToSystemError(int error) {
  switch (error) {
    case ENOENT: return 2;
    case E2BIG: return 10;
    case ENOEXEC: return 11;
    case EBADF: return 6;
    case ECHILD: return 128;
    case EAGAIN: return 89;
    case ENOMEM: return 8;
    case EACCES: return 5;
    case EEXIST: return 183;
    case EXDEV: return 17;
    case ENODEV: return 15;
    case ENOTDIR: return 3;
    case EINVAL: return 87;
    case EMFILE: return 4;
    case ENOSPC: return 112;
    case EPIPE: return 109;
    case ENOTEMPTY: return 145;
    case EIO: return 1117;  // ERROR_IO_DEVICE
    default: return 120;
  }
}

void FileStream::RecordErrno(int error) { lastError = ErrnoToSystemError(error); }

// The runtime keeps the system's own code of a failed read or write (a CRC error, a lost network
// share, a full disk) in _doserrno; errno alone would fold most of them into one.
void FileStream::RecordSystemError() {
#if defined(_WIN32)
  if (_doserrno != 0) {
    lastError = static_cast<uint32_t>(_doserrno);
    return;
  }
#endif
  RecordErrno(errno);
}

// position mirrors the descriptor's offset, so a transfer moves it by its size without asking the
// system; only after a failed Seek (position -1) is the offset read back.
uint32_t FileStream::DescriptorOffsetAfter(uint32_t moved) {
  if (position == 0xFFFFFFFFu) return static_cast<uint32_t>(SysSeek(descriptor, 0, SEEK_CUR));
  return position + moved;
}


bool FileStream::OpenRead(const char* path, FileShare share) {
  if (open) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  descriptor = SysOpen(path, OpenReadFlags(), ShareFlags(share), 0);
  if (descriptor < 0) {
    RecordErrno(errno);
    return false;
  }
  return FinishOpen();
}

bool FileStream::OpenWrite(const char* path) {
  return OpenForWriting(path, OpenWriteFlags(), FileShare::kReadWrite);
}

bool FileStream::OpenNew(const char* path, FileShare share) {
  return OpenForWriting(path, OpenNewFlags(), share);
}

bool FileStream::OpenForWriting(const char* path, int flags, FileShare share) {
  if (open) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  written = false;
  descriptor = SysOpen(path, flags, ShareFlags(share), kCreateMode);
  if (descriptor < 0) {
    RecordErrno(errno);
    return false;
  }
  return FinishOpen();
}

bool FileStream::FinishOpen() {
  int64_t size = SysSeek(descriptor, 0, SEEK_END);
  if (size < 0 || size > kMaxFileSize) {
    lastError = size < 0 ? ErrnoToSystemError(errno) : kErrorFileTooLarge;
    SysClose(descriptor);
    descriptor = -1;
    return false;
  }
  length = static_cast<uint32_t>(size);
  position = static_cast<uint32_t>(SysSeek(descriptor, 0, SEEK_SET));
  open = true;
  return true;
}

bool FileStream::Read(void* buffer, uint32_t count, uint32_t* transferred) {
  if (!open) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  written = false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    uint32_t want = count - total < kMaxSystemRead ? count - total : kMaxSystemRead;
    int got = systemRead(descriptor, out + total, want);
    if (got < 0) {
      RecordSystemError();
      if (transferred) *transferred = total;
      position = static_cast<uint32_t>(SysSeek(descriptor, 0, SEEK_CUR));
      return false;
    }
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  if (transferred) *transferred = total;
  position = DescriptorOffsetAfter(total);
  return true;
}

bool FileStream::Write(const void* buffer, uint32_t count, uint32_t* transferred) {
  if (!open) {
    lastError = kErrorInvalidHandle;
    return false;
  }
#if defined(_WIN32)
  _doserrno = 0;
#endif
  int result = SysWrite(descriptor, buffer, count);
#if defined(_WIN32)
  // The system may write part of the bytes and call that a success, as a disk that fills up does
  // under Wine; the runtime then fails the whole write with EINVAL and no system error, losing both
  // the count and the cause. The descriptor's offset still tells how far it got: that is a short
  // write, as POSIX reports one, which the callers take for a full disk.
  if (result == -1 && errno == EINVAL && _doserrno == 0 && position != 0xFFFFFFFFu) {
    int64_t reached = SysSeek(descriptor, 0, SEEK_CUR);
    if (reached > position && reached - position < count) result = static_cast<int>(reached - position);
  }
#endif
  if (transferred) *transferred = static_cast<uint32_t>(result);
  if (result == -1) {
    RecordSystemError();
    return false;
  }
  position = DescriptorOffsetAfter(static_cast<uint32_t>(result));
  written = true;
  return true;
}

uint8_t* FileStream::Acquire(uint32_t count) {
  // One byte at least, so that an empty block is still a block.
  uint8_t* block = static_cast<uint8_t*>(std::calloc(count ? count : 1, 1));
  if (block == nullptr) {
    lastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  // Only the range past the end of the file may come out as zeros, never one that failed to read.
  if (!Read(block, count, nullptr)) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void FileStream::Release(uint8_t* block) { std::free(block); }

uint32_t FileStream::Seek(int32_t offset, int origin) {
  int64_t wide = origin == kSeekSet ? static_cast<int64_t>(static_cast<uint32_t>(offset)) : offset;
  int64_t result = open ? SysSeek(descriptor, wide, origin) : -1;
  if (result < 0) {
    RecordErrno(open ? errno : EBADF);
    result = -1;
  }
  position = static_cast<uint32_t>(result);
  return position;
}

void FileStream::Close() {
  if (descriptor >= 0) SysClose(descriptor);
  descriptor = -1;
  open = false;
  written = false;
}

bool FileStream::SetTimes(uint32_t time) {
  if (descriptor < 0) return false;
  const int64_t seconds = static_cast<int32_t>(time);
#if defined(_WIN32)
  __utimbuf64 times = {seconds, seconds};
  return _futime64(descriptor, &times) == 0;
#else
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return futimens(descriptor, times) == 0;
#endif
}

uint32_t FileStream::Length() {
  if (written) {
    int64_t size = SysSeek(descriptor, 0, SEEK_END);
    if (size >= 0) length = static_cast<uint32_t>(size);
    SysSeek(descriptor, position, SEEK_SET);
  }
  return length;
}

}  // namespace sfx
