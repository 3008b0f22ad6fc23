#ifndef SFXSTUB_VERIFY_DSA_PUBLIC_KEY_H_
#define SFXSTUB_VERIFY_DSA_PUBLIC_KEY_H_

#include <cstdint>

namespace sfx {

// A DSA public key as the stub holds it: unsigned big-endian fields of fixed width (1024-bit p,
// 160-bit q). An all-zero key verifies nothing.
struct DsaPublicKey {
  uint8_t p[128];
  uint8_t q[20];
  uint8_t g[128];
  uint8_t y[128];
};

// The key the stub was stamped with (see key_block.h); all zero in a stub never stamped.
DsaPublicKey BuiltInPublicKey();

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_DSA_PUBLIC_KEY_H_
