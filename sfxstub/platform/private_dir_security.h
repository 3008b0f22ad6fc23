// The security descriptor a run's private directory is created with (Windows only): the entries of
// private_dir_entries.h (full control for SYSTEM, the Administrators and, unless the token is
// elevated, the user this process runs as; read and execute for Everyone), each inherited by what is
// created inside; the list is protected, so nothing comes from the folder above (a shared TEMP such as
// C:\Windows\Temp lets ordinary users create files in what they can reach).
#ifndef SFXSTUB_PLATFORM_PRIVATE_DIR_SECURITY_H_
#define SFXSTUB_PLATFORM_PRIVATE_DIR_SECURITY_H_

#include <windows.h>

#include <cstdint>

#include "sfxstub/platform/list.h"
#include "sfxstub/platform/private_dir_entries.h"
#include "sfxstub/result_code.h"

namespace sfx {

// The rights of the Everyone entry, and the inheritance of every entry (objects and containers).
constexpr DWORD kEveryoneAccess = GENERIC_READ | GENERIC_EXECUTE;
constexpr DWORD kEveryoneInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD kOwnersAccess = FILE_ALL_ACCESS;

class PrivateDirSecurity {
 public:
  PrivateDirSecurity() = default;
  PrivateDirSecurity(const PrivateDirSecurity&) = delete;
  PrivateDirSecurity& operator=(const PrivateDirSecurity&) = delete;

  // Builds the descriptor for a token that is elevated or not. Returns 0 or the error of the failing
  // call (the user's identity from the process token, the list, the descriptor).
  ResultCode Build(bool elevated);
  // The access list built, after a successful Build.
  PACL AccessList() { return reinterpret_cast<PACL>(list.data()); }
  // For CreateDirectoryA, after a successful Build; not inheritable.
  SECURITY_ATTRIBUTES* Attributes() { return &attributes; }

 private:
  List<uint8_t> tokenUser;  // TOKEN_USER and the SID it points to
  List<uint8_t> list;       // the ACL
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{};
};

// True when this process's token is elevated (UAC). Systems without the query (before Vista) have no
// filtered tokens: false.
bool IsTokenElevated();

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_PRIVATE_DIR_SECURITY_H_
