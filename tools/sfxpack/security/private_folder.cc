#include "tools/sfxpack/security/private_folder.h"

#include "tools/sfxpack/cli/interrupt_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "tools/sfxpack/file_io.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "tools/sfxpack/security/owner_only_access.h"
#else
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace sfx {
namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

std::string RandomSuffix() {
  std::random_device random;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".sign-%08x%08x.tmp~", static_cast<unsigned>(random()),
                static_cast<unsigned>(random()));
  return suffix;
}

// The shell's verdict on a command: empty when it exited with 0.
std::string RunShell(const std::string& command) {
  std::fflush(nullptr);
#if defined(_WIN32)
  // cmd /c drops the first and the last quote of a line that starts with one; the outer pair keeps
  // the command's own quotes.
  int status = std::system(("\"" + command + "\"").c_str());
  if (status == 0) return "";
  return status == -1 ? "cannot be started" : "exited with status " + Number(static_cast<uint32_t>(status));
#else
  int status = std::system(command.c_str());
  if (status == 0) return "";
  if (status == -1) return "cannot be started";
  if (WIFEXITED(status)) return "exited with status " + Number(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + Number(WTERMSIG(status));
  return "failed";
#endif
}

}  // namespace

#if defined(_WIN32)

bool PrivateFolder::Create(const std::string& beside, std::string* error) {
  Remove();
  OwnerOnlySecurity security;
  if (!security.Build(true, error)) {
    *error = beside + ": cannot make a private folder: " + *error;
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = beside + RandomSuffix();
    if (!CreateDirectoryA(path.c_str(), security.Attributes())) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      break;
    }
    path_ = path;
    // Held without delete sharing and without following a reparse point: it cannot be renamed or
    // swapped for another while it is used.
    HANDLE handle = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *error = path + ": cannot hold the private folder (error " + Number(GetLastError()) + ")";
      RemoveDirectoryA(path.c_str());
      path_.clear();
      return false;
    }
    handle_ = handle;
    InterruptCleanup::RememberFolder(AbsolutePath());
    return true;
  }
  *error = beside + ": cannot make a private folder beside it (error " + Number(GetLastError()) + ")";
  return false;
}

bool PrivateFolder::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes, std::string* error) {
  const std::string path = path_ + "\\" + name;
  int fd = CreateNewFile(path, FileAccess::kOwnerOnly);
  if (fd < 0) {
    *error = path + ": cannot create: " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    int put = _write(fd, bytes.data() + done, static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1u << 30)));
    ok = put > 0;
    if (ok) done += static_cast<size_t>(put);
  }
  ok = _close(fd) == 0 && ok;
  if (!ok) *error = path + ": cannot write";
  return ok;
}

bool PrivateFolder::ReadFile(const std::string& name, std::vector<uint8_t>* bytes, std::string* error) {
  const std::string path = path_ + "\\" + name;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    *error = path + ": not a regular file";
    return false;
  }
  return ReadWholeFile(path, bytes, error);
}

void PrivateFolder::RemoveFile(const std::string& name) { DeleteFileA((path_ + "\\" + name).c_str()); }

std::string PrivateFolder::Run(const std::string& command) {
  char saved[MAX_PATH * 4];
  DWORD length = GetCurrentDirectoryA(sizeof saved, saved);
  if (length == 0 || length >= sizeof saved) return "cannot be started (the working directory is unknown)";
  if (!SetCurrentDirectoryA(path_.c_str())) return "cannot be started in the private folder";
  std::string verdict = RunShell(command);
  SetCurrentDirectoryA(saved);
  return verdict;
}

void PrivateFolder::Remove() {
  if (handle_ == nullptr) return;
  std::error_code ignored;
  // Inside a folder only its owner can enter: what lies there is the signer's or ours. A link is
  // removed, not followed.
  for (std::filesystem::directory_iterator it(FsPath(path_), ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    std::error_code each;
    std::filesystem::remove_all(it->path(), each);
  }
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  RemoveDirectoryA(path_.c_str());
  ForgetOnInterrupt();
  path_.clear();
}

#else

namespace {

// Removes name inside the folder dirfd: a file or a link itself, or a folder with all it holds.
void RemoveAt(int dirfd, const char* name) {
  if (unlinkat(dirfd, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  int sub = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (sub < 0) return;
  if (DIR* listing = fdopendir(dup(sub))) {
    while (dirent* entry = readdir(listing)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) RemoveAt(sub, entry->d_name);
    }
    closedir(listing);
  }
  close(sub);
  unlinkat(dirfd, name, AT_REMOVEDIR);
}

}  // namespace

bool PrivateFolder::Create(const std::string& beside, std::string* error) {
  Remove();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = beside + RandomSuffix();
    if (mkdir(path.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      break;
    }
    path_ = path;
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    // What is held must be the folder just made: the user's own, for the user alone (a umask can
    // only take rights away). Someone who swapped another folder in at the name fails this.
    if (fd_ < 0 || fstat(fd_, &info) != 0 || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
      *error = path + ": the private folder is not this user's alone";
      if (fd_ >= 0) close(fd_);
      fd_ = -1;
      path_.clear();
      return false;
    }
    InterruptCleanup::RememberFolder(AbsolutePath());
    return true;
  }
  *error = beside + ": cannot make a private folder beside it: " + std::strerror(errno);
  return false;
}

bool PrivateFolder::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes, std::string* error) {
  const std::string path = path_ + "/" + name;
  int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = path + ": cannot create: " + std::strerror(errno);
    return false;
  }
  for (size_t done = 0; done < bytes.size();) {
    ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = path + ": cannot write: " + std::strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  if (close(fd) != 0) {
    *error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PrivateFolder::ReadFile(const std::string& name, std::vector<uint8_t>* bytes, std::string* error) {
  const std::string path = path_ + "/" + name;
  int fd = openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) {
    *error = path + ": cannot open: " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = path + ": not a regular file";
    close(fd);
    return false;
  }
  bytes->clear();
  uint8_t buffer[1 << 16];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = path + ": cannot read: " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (got == 0) break;
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  close(fd);
  return true;
}

void PrivateFolder::RemoveFile(const std::string& name) {
  if (fd_ >= 0) unlinkat(fd_, name.c_str(), 0);
}

std::string PrivateFolder::Run(const std::string& command) {
  // The working directory is changed through the held descriptor, so the command starts in the
  // folder made, whatever its name names by then; the shell ignores interrupts meanwhile, so the
  // folder is removed even when the command is interrupted.
#if defined(O_PATH)
  int saved = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  int saved = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (saved < 0) return "cannot be started (the working directory cannot be kept)";
  if (fchdir(fd_) != 0) {
    close(saved);
    return "cannot be started in the private folder";
  }
  std::string verdict = RunShell(command);
  if (fchdir(saved) != 0) verdict = "left the tool outside its working directory";
  close(saved);
  return verdict;
}

void PrivateFolder::Remove() {
  if (fd_ < 0) return;
  if (DIR* listing = fdopendir(dup(fd_))) {
    std::vector<std::string> names;
    while (dirent* entry = readdir(listing)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(listing);
    for (const std::string& name : names) RemoveAt(fd_, name.c_str());
  }
  // The folder goes by name only while that name still leads to the folder held.
  struct stat held {}, named {};
  if (fstat(fd_, &held) == 0 && lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    rmdir(path_.c_str());
  }
  close(fd_);
  fd_ = -1;
  ForgetOnInterrupt();
  path_.clear();
}

#endif

// The folder's path as the signal handler needs it: absolute, since the tool's working directory is
// the folder itself while a command runs there.
std::string PrivateFolder::AbsolutePath() const {
  std::error_code ignored;
  const std::string absolute = std::filesystem::absolute(path_, ignored).string();
  return absolute.empty() ? path_ : absolute;
}

void PrivateFolder::RemoveOnInterrupt(const std::string& name) {
  if (path_.empty()) return;
#if defined(_WIN32)
  onInterrupt_.push_back(AbsolutePath() + "\\" + name);
#else
  onInterrupt_.push_back(AbsolutePath() + "/" + name);
#endif
  InterruptCleanup::Remember(onInterrupt_.back());
}

void PrivateFolder::ForgetOnInterrupt() {
  for (const std::string& path : onInterrupt_) InterruptCleanup::Forget(path);
  onInterrupt_.clear();
  InterruptCleanup::Forget(AbsolutePath());
}

}  // namespace sfx
