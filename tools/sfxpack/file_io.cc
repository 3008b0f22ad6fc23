#include "tools/sfxpack/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <windows.h>

#include "tools/sfxpack/security/owner_only_access.h"
#else
#include <unistd.h>
#endif

#include "tools/sfxpack/cli/interrupt_cleanup.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

#if defined(_WIN32)
int SysWrite(int fd, const void* data, size_t size) { return _write(fd, data, static_cast<unsigned>(size)); }
int SysSync(int fd) { return _commit(fd); }
int SysClose(int fd) { return _close(fd); }
#else
ssize_t SysWrite(int fd, const void* data, size_t size) { return write(fd, data, size); }
int SysSync(int fd) { return fsync(fd); }
int SysClose(int fd) { return close(fd); }
#endif

std::string Describe(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
}

// The size of an open regular file; false for anything else (a pipe, a device) or on failure.
bool OpenRegularFileSize(std::FILE* file, uint64_t* size) {
#if defined(_WIN32)
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
#endif
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

}  // namespace

std::filesystem::path FsPath(const std::string& utf8) { return fs::u8path(utf8); }

std::string FsText(const std::filesystem::path& path) { return path.u8string(); }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *error = Describe(path, "cannot open");
    return false;
  }
  bytes->clear();
  // Reserved at the file's size, so that the bytes are not copied (and held twice) as they grow.
  uint64_t size = 0;
  if (OpenRegularFileSize(file.get(), &size) && size < (1u << 30)) bytes->reserve(static_cast<size_t>(size));
  uint8_t buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  if (std::ferror(file.get())) {
    *error = Describe(path, "cannot read");
    return false;
  }
  return true;
}

bool ReadFilePrefix(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *error = Describe(path, "cannot open");
    return false;
  }
  // What the file holds bounds the buffer: a limit far above its size (64 MiB for a setup
  // program's manifest) is neither allocated nor cleared.
  size_t capacity = limit;
  uint64_t size = 0;
  if (OpenRegularFileSize(file.get(), &size) && size < capacity) capacity = static_cast<size_t>(size);
  bytes->resize(capacity);
  size_t got = std::fread(bytes->data(), 1, capacity, file.get());
  if (std::ferror(file.get())) {
    *error = Describe(path, "cannot read");
    return false;
  }
  bytes->resize(got);
  return true;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
#if defined(_WIN32)
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::FILE* OpenScratchFile() {
#if defined(_WIN32)
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) {
    errno = ENOENT;
    return nullptr;
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = std::string(folder) + "sfxpack-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(random()) + ".tmp";
    int fd = -1;
    errno = _sopen_s(&fd, path.c_str(),
                     _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT | _O_TEMPORARY | _O_SHORT_LIVED,
                     _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (errno == EEXIST) continue;
    if (errno != 0) return nullptr;
    std::FILE* file = _fdopen(fd, "w+b");
    if (!file) _close(fd);
    return file;
  }
  errno = EEXIST;
  return nullptr;
#else
  return std::tmpfile();
#endif
}

int CreateNewFile(const std::string& path, FileAccess access) {
#if defined(_WIN32)
  // Windows would give the file the folder's inherited access list (the mode only sets read-only):
  // an owner-only file gets an access list of its own from its first moment.
  if (access == FileAccess::kOwnerOnly) {
    OwnerOnlySecurity security;
    std::string ignored;
    if (!security.Build(false, &ignored)) {
      errno = EACCES;
      return -1;
    }
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      errno = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? EEXIST
              : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                             : EACCES;
      return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    if (fd < 0) CloseHandle(handle);
    return fd;
  }
  int fd = -1;
  errno = _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYRW,
                   _S_IREAD | _S_IWRITE);
  return errno == 0 ? fd : -1;
#else
  mode_t mode = access == FileAccess::kOwnerOnly ? 0600 : 0666;
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
#endif
}

ReplacingFile::~ReplacingFile() { Abandon(); }

void ReplacingFile::Abandon() {
  if (fd_ < 0) return;
  SysClose(fd_);
  fd_ = -1;
  std::remove(temporary_.c_str());
  InterruptCleanup::Forget(temporary_);
}

bool ReplacingFile::Open(const std::string& path, std::string* error, FileAccess access) {
  Abandon();
  path_ = path;
  // A name nobody can guess and occupy beforehand; a taken one is skipped.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%08x.tmp~", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    temporary_ = path + suffix;
    // Registered before it exists, so that no signal finds it made and not yet known; the name is
    // one nobody else can be using.
    InterruptCleanup::Remember(temporary_);
    fd_ = CreateNewFile(temporary_, access);
    if (fd_ < 0) InterruptCleanup::Forget(temporary_);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    *error = Describe(path, "cannot create");
    return false;
  }
  return true;
}

bool ReplacingFile::Write(const uint8_t* bytes, size_t length, std::string* error) {
  for (size_t done = 0; fd_ >= 0 && done < length;) {
    size_t chunk = std::min<size_t>(length - done, 1u << 30);
    auto put = SysWrite(fd_, bytes + done, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = Describe(path_, "cannot write");
      Abandon();
      return false;
    }
    done += static_cast<size_t>(put);
  }
  if (fd_ >= 0) return true;
  *error = path_ + ": cannot write";
  return false;
}

bool ReplacingFile::Commit(std::string* error) {
  if (fd_ < 0) {
    *error = path_ + ": cannot write";
    return false;
  }
  const char* failed = SysSync(fd_) != 0 ? "cannot flush to disk" : nullptr;
  if (SysClose(fd_) != 0 && failed == nullptr) failed = "cannot write";
  fd_ = -1;
  if (failed != nullptr) {
    *error = Describe(path_, failed);
    std::remove(temporary_.c_str());
    InterruptCleanup::Forget(temporary_);
    return false;
  }
  const bool renamed = RenameFile(temporary_, path_, error);
  if (!renamed) std::remove(temporary_.c_str());
  InterruptCleanup::Forget(temporary_);
  return renamed;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error,
                    FileAccess access) {
  ReplacingFile file;
  return file.Open(path, error, access) && file.Write(bytes.data(), bytes.size(), error) && file.Commit(error);
}

bool RegularFileSize(const std::string& path, uint64_t* size, std::string* error) {
  std::error_code code;
  fs::file_status status = fs::status(FsPath(path), code);
  if (code) {
    *error = path + ": cannot open: " + code.message();
    return false;
  }
  if (!fs::is_regular_file(status)) {
    *error = path + ": not a regular file";
    return false;
  }
  *size = fs::file_size(FsPath(path), code);
  if (code) {
    *error = path + ": cannot read the size: " + code.message();
    return false;
  }
  return true;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  std::error_code code;
  fs::rename(FsPath(from), FsPath(to), code);
  if (code) {
    *error = to + ": cannot replace: " + code.message();
    return false;
  }
  return true;
}

void RemoveFileIfPresent(const std::string& path) {
  std::error_code ignored;
  fs::remove(FsPath(path), ignored);
}

bool FileTime(const std::string& path, int64_t* seconds, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = Describe(path, "cannot read the time of");
    return false;
  }
  *seconds = static_cast<int64_t>(info.st_mtime);
  return true;
}

bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error,
                   std::vector<std::string>* links) {
  std::error_code code;
  for (fs::directory_iterator it(FsPath(dir), code), end; !code && it != end; it.increment(code)) {
    const std::string name = FsText(it->path().filename());
    std::error_code ignored;
    const fs::file_status target = it->status(ignored);  // through a link
    if (fs::is_directory(target)) {
      *error = dir + ": holds the folder '" + name + "'; a package extracts into one folder, so --dir takes files only";
      return false;
    }
    if (!fs::is_regular_file(target)) {
      const char* kind = fs::is_fifo(target)                                          ? "a FIFO"
                         : fs::is_block_file(target) || fs::is_character_file(target) ? "a device"
                         : fs::is_socket(target)                                      ? "a socket"
                         : !fs::exists(target)                                        ? "a link to nothing"
                                                                                      : "not a regular file";
      *error = dir + ": '" + name + "' is " + kind + "; --dir takes regular files only";
      return false;
    }
    if (links != nullptr && it->is_symlink(ignored)) links->push_back(name);
    names->push_back(name);
  }
  if (code) {
    *error = dir + ": cannot list: " + code.message();
    return false;
  }
  std::sort(names->begin(), names->end());
  return true;
}

bool ClearOutput(const std::string& path, bool remove, std::string* error) {
  std::error_code code;
  fs::file_status status = fs::symlink_status(FsPath(path), code);
  if (!fs::exists(status)) return true;
  if (!remove) {
    *error = path + ": exists (give --force to replace it)";
    return false;
  }
  fs::remove(FsPath(path), code);
  if (code) {
    *error = path + ": cannot remove: " + code.message();
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& dir, std::string* error) {
  std::error_code code;
  fs::create_directories(FsPath(dir), code);
  if (code) {
    *error = dir + ": cannot create: " + code.message();
    return false;
  }
  return true;
}

bool CheckRegularFile(const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = Describe(path, "cannot open");
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = path + ": not a regular file (a package is read with seeks; save it to a file first)";
    return false;
  }
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string BesideExecutable(const std::string& relative) {
  std::error_code code;
#if defined(_WIN32)
  char self[4096];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) return "";
  fs::path path = FsPath(std::string(self, length));
#else
  fs::path path = fs::read_symlink("/proc/self/exe", code);
#endif
  if (code || path.empty()) return "";
  return FsText((path.parent_path() / FsPath(relative)).lexically_normal());
}

}  // namespace sfx
