#include "sfxstub/platform/temp_dir.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "sfxstub/archive/heap_block.h"
#include "sfxstub/platform/list.h"
#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/path_limits.h"
#include "sfxstub/platform/temp_dir_name.h"
#include "sfxstub/platform/unique_handle.h"

namespace sfx {
namespace {

constexpr DWORD kOsVersionInfoSize = 148;  // OSVERSIONINFOA

// The variable's value, or an empty text when it is unset or empty. Any length.
Text ReadEnvironment(const char* name) {
  char small[kMaxPathBytes];
  DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
  if (length == 0) return Text();
  if (length < sizeof small) return Text(small, length);
  List<char> value;
  value.resize(length);  // length counts the terminator here
  length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  return length < value.size() ? Text(value.data(), length) : Text();
}

bool IsExistingFolder(const Text& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "TEMP", then "TMP", then what GetTempPathA says: the first that names an existing folder. Nothing
// is created: a base made here (a missing "C:\\TEMP" under "C:\\") would carry what its parent hands
// down to everyone, or be someone else's already.
Text TempBase() {
  Text base = ReadEnvironment("TEMP");
  if (IsExistingFolder(base)) return base;
  base = ReadEnvironment("TMP");
  if (IsExistingFolder(base)) return base;
  char system[kMaxPathBytes];
  DWORD length = GetTempPathA(sizeof system, system);
  if (length == 0 || length >= sizeof system) return Text();
  base.assign(system, length);
  return IsExistingFolder(base) ? std::move(base) : Text();
}

// True when the name cannot be used: something exists there, or the test is refused.
bool NameTaken(const Text& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return GetLastError() == ERROR_ACCESS_DENIED;
}

using GetNamedSecurityInfoFn = DWORD(WINAPI*)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*,
                                              PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);
using SetNamedSecurityInfoFn = DWORD(WINAPI*)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                              PSID, PACL, PACL);
using SetEntriesInAclFn = DWORD(WINAPI*)(ULONG, PEXPLICIT_ACCESS_A, PACL, PACL*);

template <typename Fn>
Fn LookUp(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

ResultCode CreatePrivateTempDir(char* buffer, uint32_t size, const char* prefix, HeldDirectory* held) {
  return CreatePrivateTempDirForThread(buffer, size, prefix, GetCurrentThreadId(), held);
}

ResultCode CreatePrivateTempDirForThread(char* buffer, uint32_t size, const char* prefix,
                                         uint32_t threadId, HeldDirectory* held) {
  std::memset(buffer, 0, size);
  held->Release();
  const Text base = TempBase();
  if (base.empty()) return kErrorPathNotFound;

  // The directory is private from its first moment: no window in which it carries what the base
  // would hand down.
  PrivateDirSecurity security;
  ResultCode built = security.Build(IsTokenElevated());
  if (built != kOk) return built;

  for (char letter = 'a'; letter <= 'z'; ++letter) {
    Text path = TempDirCandidate(base, prefix, threadId, letter, SystemLeadByte);
    if (path.size() + 1 > size) return kErrorFilenameExceedsRange;
    if (NameTaken(path)) continue;
    if (!CreateDirectoryA(path.c_str(), security.Attributes())) {
      DWORD error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS) continue;  // made by someone else since the test
      return error;
    }
    // Held before anything else touches it by path, the access list included.
    ResultCode holding = held->Hold(path.c_str());
    if (holding != kOk) {
      RemoveDirectoryA(path.c_str());  // removes an empty directory, or a link put there, never more
      return holding;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return GrantEveryoneAccess(buffer, SE_FILE_OBJECT);
  }
  return kErrorCannotMake;
}

ResultCode GrantEveryoneAccess(const char* path, SE_OBJECT_TYPE objectType) {
  return GrantEveryoneAccessFrom("advapi32.dll", path, objectType);
}

ResultCode GrantEveryoneAccessFrom(const char* libraryName, const char* path,
                                   SE_OBJECT_TYPE objectType) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = kOsVersionInfoSize;
  GetVersionExA(&version);
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return kOk;

  UniqueLibrary library(LoadLibraryA(libraryName));
  if (!library) return GetLastError();
  auto getNamedSecurityInfo = LookUp<GetNamedSecurityInfoFn>(library.Get(), "GetNamedSecurityInfoA");
  auto setNamedSecurityInfo = LookUp<SetNamedSecurityInfoFn>(library.Get(), "SetNamedSecurityInfoA");
  auto setEntriesInAcl = LookUp<SetEntriesInAclFn>(library.Get(), "SetEntriesInAclA");
  if (!getNamedSecurityInfo || !setNamedSecurityInfo || !setEntriesInAcl) return kErrorInvalidOrdinal;

  // The security calls take a writable string.
  size_t length = std::strlen(path) + 1;
  HeapBlock pathCopy(static_cast<uint8_t*>(std::malloc(length)));
  if (!pathCopy) return kErrorNotEnoughMemory;
  std::memcpy(pathCopy.get(), path, length);
  char* writablePath = reinterpret_cast<char*>(pathCopy.get());

  PACL oldList = nullptr;  // points into descriptor
  UniqueLocalMemory<void> descriptor;
  DWORD result = getNamedSecurityInfo(writablePath, objectType, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &oldList, nullptr, descriptor.Receive());
  if (result != ERROR_SUCCESS) return result;

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                everyone.Receive())) {
    return GetLastError();
  }

  EXPLICIT_ACCESS_A entry;
  std::memset(&entry, 0, sizeof entry);
  entry.grfAccessPermissions = kEveryoneAccess;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = kEveryoneInheritance;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
  entry.Trustee.ptstrName = static_cast<LPSTR>(everyone.Get());

  UniqueLocalMemory<ACL> newList;
  result = setEntriesInAcl(1, &entry, oldList, newList.Receive());
  if (result != ERROR_SUCCESS) return result;

  return setNamedSecurityInfo(writablePath, objectType,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, newList.Get(), nullptr);
}

}  // namespace sfx
