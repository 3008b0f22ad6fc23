#include "tools/sfxpack/security/owner_only_access.h"

#if defined(_WIN32)
#include <sddl.h>

#include <memory>
#endif

namespace sfx {

std::string OwnerOnlySddl(const std::string& userSid, bool folder) {
  // FA: every file right; OICI: files and folders made inside inherit the entry.
  return std::string("D:P(A;") + (folder ? "OICI" : "") + ";FA;;;" + userSid + ")";
}

#if defined(_WIN32)

namespace {

std::string SystemError(const char* what) { return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")"; }

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

}  // namespace

bool CurrentUserSid(std::string* sid, std::string* error) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    *error = SystemError("OpenProcessToken");
    return false;
  }
  std::unique_ptr<void, HandleCloser> token(raw);
  DWORD size = 0;
  GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size ? size : 1]);
  if (size == 0 || !GetTokenInformation(raw, TokenUser, buffer.get(), size, &size)) {
    *error = SystemError("GetTokenInformation");
    return false;
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) {
    *error = SystemError("ConvertSidToStringSid");
    return false;
  }
  *sid = text;
  LocalFree(text);
  return true;
}

OwnerOnlySecurity::~OwnerOnlySecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

bool OwnerOnlySecurity::Build(bool folder, std::string* error) {
  std::string sid;
  if (!CurrentUserSid(&sid, error)) return false;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(OwnerOnlySddl(sid, folder).c_str(), SDDL_REVISION_1,
                                                            &descriptor_, nullptr)) {
    *error = SystemError("ConvertStringSecurityDescriptorToSecurityDescriptor");
    return false;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

#endif

}  // namespace sfx
