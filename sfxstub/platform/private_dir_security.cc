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

ResultCode PrivateDirSecurity::Build() {
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
  const Entry entries[] = {{system.Get(), kOwnersAccess},
                           {administrators.Get(), kOwnersAccess},
                           {user, kOwnersAccess},
                           {everyone.Get(), kEveryoneAccess}};
  DWORD size = sizeof(ACL);
  for (const Entry& entry : entries) size += AceSize(entry.sid);
  list.clear();
  list.resize(size);
  PACL acl = reinterpret_cast<PACL>(list.data());
  if (!InitializeAcl(acl, size, ACL_REVISION)) return GetLastError();
  for (const Entry& entry : entries) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, kEveryoneInheritance, entry.access, entry.sid)) {
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
