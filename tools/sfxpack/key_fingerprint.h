// Names a public key the way ssh-keygen -l does: SHA-256 over the key's SubjectPublicKeyInfo DER,
// shown as "SHA256:" and base64 without padding, or as hex for machines.
#ifndef SFXSTUB_TOOLS_SFXPACK_KEY_FINGERPRINT_H_
#define SFXSTUB_TOOLS_SFXPACK_KEY_FINGERPRINT_H_

#include <cstdint>
#include <string>

#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

class KeyFingerprint {
 public:
  static constexpr size_t kSize = 32;

  // Fails, with the reason in *error, when the key is not one the signer could write as a key file.
  static bool Of(const DsaPublicKey& key, KeyFingerprint* fingerprint, std::string* error);
  // "SHA256:" and the base64 digest, or the bare 64 hex digits in either case; false for anything else.
  static bool Parse(const std::string& text, KeyFingerprint* fingerprint);

  std::string Text() const;  // "SHA256:" + base64 without padding
  std::string Hex() const;   // 64 lower-case hex digits
  bool operator==(const KeyFingerprint& other) const;

 private:
  uint8_t digest_[kSize] = {};
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_KEY_FINGERPRINT_H_
