#include "sfxstub/verify/built_in_key.h"

namespace sfx {
namespace {

struct KeyBlockImage {
  uint8_t marker[kKeyBlockMarkerSize];
  uint8_t key[sizeof(DsaPublicKey)];
};
static_assert(sizeof(KeyBlockImage) == kKeyBlockSize, "the block has no padding");

// The block that the packaging tool stamps after the build. volatile: the compiler must not take
// the zero key as known and fold it away; every read below goes to the bytes in the image. 'used'
// keeps the definition even where the compiler sees no reader.
#if defined(__GNUC__)
__attribute__((used))
#endif
volatile KeyBlockImage stubKeyBlock = {
    {'J', 'U', 'X', 's', 'e', 't', 'u', 'p', 'D', 'S', 'A', 'K', 'e', 'y', '0', '1'}, {}};

}  // namespace

DsaPublicKey BuiltInPublicKey() {
  DsaPublicKey key;
  uint8_t* out = reinterpret_cast<uint8_t*>(&key);
  for (size_t i = 0; i < sizeof key; ++i) out[i] = stubKeyBlock.key[i];
  return key;
}

void KeyBlockMarker(uint8_t marker[kKeyBlockMarkerSize]) {
  for (size_t i = 0; i < kKeyBlockMarkerSize; ++i) marker[i] = stubKeyBlock.marker[i];
}

bool IsZeroKey(const DsaPublicKey& key) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
  for (size_t i = 0; i < sizeof key; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace sfx
