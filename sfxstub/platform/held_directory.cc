#include "sfxstub/platform/held_directory.h"

#include <cstring>
#include <utility>

#include "sfxstub/platform/file_utils.h"

namespace sfx {
namespace {

constexpr DWORD kNoReparse = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// directory, '\\' and name into out; false when that does not fit.
bool Beside(const char* directory, const char* name, char (&out)[kMaxPathBytes]) {
  size_t directoryLength = std::strlen(directory);
  size_t nameLength = std::strlen(name);
  if (directoryLength + 1 + nameLength + 1 > sizeof out) return false;
  std::memcpy(out, directory, directoryLength);
  out[directoryLength] = '\\';
  std::memcpy(out + directoryLength + 1, name, nameLength + 1);
  return true;
}

}  // namespace

ResultCode HeldDirectory::Hold(const char* directory) {
  size_t length = std::strlen(directory);
  if (length + 1 > sizeof path) return kErrorFilenameExceedsRange;
  // Reading is data access: a handle without it would take no part in the sharing checks, and the
  // directory could be renamed under it.
  UniqueHandle opened(CreateFileA(directory, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, kNoReparse, nullptr));
  if (!opened) return GetLastError();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(opened.Get(), &information)) return GetLastError();
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return kErrorDirectory;
  }
  handle = std::move(opened);
  std::memcpy(path, directory, length + 1);
  return kOk;
}

bool HeldDirectory::IsNamedBy(const char* candidate) const {
  if (!IsHeld()) return false;
  UniqueHandle named(CreateFileA(candidate, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, kNoReparse, nullptr));
  if (!named) return false;
  BY_HANDLE_FILE_INFORMATION held, found;
  if (!GetFileInformationByHandle(handle.Get(), &held) || !GetFileInformationByHandle(named.Get(), &found)) {
    return false;
  }
  return held.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
         held.nFileIndexHigh == found.nFileIndexHigh && held.nFileIndexLow == found.nFileIndexLow;
}

ResultCode HeldDirectory::Remove() {
  if (!IsHeld()) return kOk;
  if (!IsNamedBy(path)) {
    Release();
    return kErrorPathNotFound;
  }
  ResultCode result = kOk;
  char pattern[kMaxPathBytes];
  if (Beside(path, "*.*", pattern)) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle entries(FindFirstFileA(pattern, &entry));
    if (entries) {
      do {
        if (IsDotEntry(entry.cFileName)) continue;
        char entryPath[kMaxPathBytes];
        if (!Beside(path, entry.cFileName, entryPath)) {
          result = kErrorFilenameExceedsRange;
          continue;
        }
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
          // A junction or a link to a directory: removing it removes the link alone.
          if (!RemoveDirectoryA(entryPath)) result = GetLastError();
        } else {
          // A file, or a link to one (deleted itself). A real subdirectory is not entered: the delete
          // fails, and the directory stays (145 below).
          DeleteFileWithRetry(entryPath);
        }
      } while (FindNextFileA(entries.Get(), &entry));
    }
  }
  handle.Reset();
  // Removed by path once let go: a directory put there in the meantime is removed only if it is
  // empty, and a link put there is removed itself.
  if (!RemoveDirectoryA(path)) result = GetLastError();
  path[0] = '\0';
  return result;
}

}  // namespace sfx
