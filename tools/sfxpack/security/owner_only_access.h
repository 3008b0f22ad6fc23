// Access lists that let the current user alone in, for what Windows would otherwise give the access
// list inherited from the folder above (a private key, the code-signing folder). Elsewhere the file
// mode does this (0600, 0700).
#ifndef SFXSTUB_TOOLS_SFXPACK_SECURITY_OWNER_ONLY_ACCESS_H_
#define SFXSTUB_TOOLS_SFXPACK_SECURITY_OWNER_ONLY_ACCESS_H_

#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sfx {

// The descriptor, in SDDL, that gives the account userSid ("S-1-5-21-...") full access and nobody
// else any, nothing inherited from above ("P"); for a folder, inherited in turn by what is made
// inside it ("OICI").
std::string OwnerOnlySddl(const std::string& userSid, bool folder);

#if defined(_WIN32)
// The process's user as a SID string.
bool CurrentUserSid(std::string* sid, std::string* error);

// Security attributes for CreateFile and CreateDirectory that carry OwnerOnlySddl for the process's
// user. The handle they create is not inherited.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() = default;
  ~OwnerOnlySecurity();
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

  bool Build(bool folder, std::string* error);
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};
#endif

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SECURITY_OWNER_ONLY_ACCESS_H_
