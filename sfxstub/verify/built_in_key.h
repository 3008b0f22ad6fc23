// The stub's own key block (the layout is in key_block.h, with the functions the packaging tool
// stamps an image's block with): the marker that finds it, and the key read from it.
#ifndef SFXSTUB_VERIFY_BUILT_IN_KEY_H_
#define SFXSTUB_VERIFY_BUILT_IN_KEY_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

constexpr size_t kKeyBlockMarkerSize = 16;
constexpr size_t kKeyBlockSize = kKeyBlockMarkerSize + sizeof(DsaPublicKey);
static_assert(sizeof(DsaPublicKey) == 128 + 20 + 128 + 128, "the key fields are packed bytes");

// The 16 marker bytes, read from the program's own block (so that no second copy of them exists in
// any executable that links this).
void KeyBlockMarker(uint8_t marker[kKeyBlockMarkerSize]);

// True for the all-zero key of a stub never stamped.
bool IsZeroKey(const DsaPublicKey& key);

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_BUILT_IN_KEY_H_
