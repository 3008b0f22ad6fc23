#include "sfxstub/platform/file_utils.h"

#include <windows.h>

#include <cstring>

#include "sfxstub/platform/join_path.h"
#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/retry.h"
#include "sfxstub/platform/text.h"
#include "sfxstub/platform/unique_handle.h"

namespace sfx {
namespace {

void Pause(uint32_t milliseconds) { Sleep(milliseconds); }

// pattern's text up to and including its last '\\' (empty when it has none), followed by name.
Text BesidePattern(const Text& pattern, const char* name) {
  size_t separator = FindLastChar(pattern, '\\', SystemLeadByte);
  Text path = separator == kNotFound ? Text() : pattern.substr(0, separator + 1);
  path += name;
  return path;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

}  // namespace

ResultCode CopyFileWithRetry(const char* source, const char* target) {
  ResultCode error = kOk;
  bool copied = RetryAttempts(
      [&] {
        if (CopyFileA(source, target, TRUE)) return true;
        error = GetLastError();
        return false;
      },
      Pause);
  return copied ? kOk : error;
}

void DeleteFileWithRetry(const char* path) {
  RetryAttempts([&] { return DeleteFileA(path) != FALSE; }, Pause);
}

ResultCode RemoveDirectoryTree(const char* directory, const char* entryPattern, bool recurse) {
  ResultCode result = kOk;
  ResultCode running = kOk;
  WIN32_FIND_DATAA match;
  UniqueFindHandle matches(FindFirstFileA(directory, &match));
  if (!matches) return kOk;
  do {
    if ((match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    Text folder = BesidePattern(directory, match.cFileName);
    Text pattern = JoinPath(folder, entryPattern, '\\');

    WIN32_FIND_DATAA entry;
    UniqueFindHandle entries(FindFirstFileA(pattern.c_str(), &entry));
    if (entries) {
      do {
        if (IsDotEntry(entry.cFileName)) continue;
        Text entryPath = BesidePattern(pattern, entry.cFileName);
        if (recurse && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          running = RemoveDirectoryTree(entryPath.c_str(), entryPattern, recurse);
        } else {
          DeleteFileWithRetry(entryPath.c_str());
        }
        if (running != kOk) result = running;
      } while (FindNextFileA(entries.Get(), &entry));
    }
    entries.Reset();

    if (!RemoveDirectoryA(folder.c_str())) {
      running = GetLastError();
      if (running != kOk) result = running;
    }
  } while (FindNextFileA(matches.Get(), &match));
  return result;
}

}  // namespace sfx
