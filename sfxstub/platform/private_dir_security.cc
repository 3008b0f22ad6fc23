#include "sfxstub/platform/private_dir_security.h"

#include "sfxstub/platform/unique_handle.h"

namespace sfx {
namespace {

// SYSTEM (S-1-5-18) or the Administrators (S-1-5-32-544).
ResultCode WellKnownSid(bool administrators, UniqueSid* sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  BOOL made = administrators
                  ? AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                             0, 0, 0, 0, 0, 0, sid->Receive())
                  : AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                             sid->Receive());
  return made ? kOk : GetLastError();
}

DWORD AceSize(PSID sid) { return sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid); }

}  // namespace

bool IsTokenElevated() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size)) return false;
  return elevation.TokenIsElevated != 0;
}

ResultCode PrivateDirSecurity::Build(bool elevated) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return GetLastError();
  DWORD needed = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
  if (needed < sizeof(TOKEN_USER)) return GetLastError();
  tokenUser.clear();
  tokenUser.resize(needed);
  if (!GetTokenInformation(token.Get(), TokenUser, tokenUser.data(), needed, &needed)) {
    return GetLastError();
  }
  PSID user = reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;

  UniqueSid system, administrators, everyone;
  ResultCode result = WellKnownSid(false, &system);
  if (result == kOk) result = WellKnownSid(true, &administrators);
  if (result != kOk) return result;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.Receive())) {
    return GetLastError();
  }

  struct Entry {
    PSID sid;
    DWORD access;
  };
  DirEntry chosen[kMaxDirEntries];
  const size_t count = PrivateDirEntries(elevated, chosen);
  Entry entries[kMaxDirEntries];
  for (size_t i = 0; i < count; ++i) {
    switch (chosen[i].trustee) {
      case DirTrustee::kSystem: entries[i].sid = system.Get(); break;
      case DirTrustee::kAdministrators: entries[i].sid = administrators.Get(); break;
      case DirTrustee::kCurrentUser: entries[i].sid = user; break;
      case DirTrustee::kEveryone: entries[i].sid = everyone.Get(); break;
    }
    entries[i].access = chosen[i].access == DirAccess::kFull ? kOwnersAccess : kEveryoneAccess;
  }
  DWORD size = sizeof(ACL);
  for (size_t i = 0; i < count; ++i) size += AceSize(entries[i].sid);
  list.clear();
  list.resize(size);
  PACL acl = reinterpret_cast<PACL>(list.data());
  if (!InitializeAcl(acl, size, ACL_REVISION)) return GetLastError();
  for (size_t i = 0; i < count; ++i) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, kEveryoneInheritance, entries[i].access, entries[i].sid)) {
      return GetLastError();
    }
  }
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return GetLastError();
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  return kOk;
}

}  // namespace sfx
