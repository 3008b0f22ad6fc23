#ifndef SFXSTUB_VERIFY_DSA_SIGNATURE_H_
#define SFXSTUB_VERIFY_DSA_SIGNATURE_H_

#include <cstdint>

#include "sfxstub/result_code.h"
#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

// Checks a DSA signature (r then s, each as wide as q) over a 16-byte MD5 digest taken whole as H.
// Returns 0 when valid, 0x2000000B otherwise.
ResultCode VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                              const DsaPublicKey& key);
inline ResultCode VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature,
                                     uint32_t length) {
  return VerifyDsaSignature(digest, signature, length, BuiltInPublicKey());
}

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_DSA_SIGNATURE_H_
