#include "sfxstub/verify/key_block.h"

#include <algorithm>
#include <cstring>

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

const DsaPublicKey& BuiltInPublicKey() {
  static const DsaPublicKey key = [] {
    DsaPublicKey copy;
    uint8_t* out = reinterpret_cast<uint8_t*>(&copy);
    for (size_t i = 0; i < sizeof copy; ++i) out[i] = stubKeyBlock.key[i];
    return copy;
  }();
  return key;
}

void KeyBlockMarker(uint8_t marker[kKeyBlockMarkerSize]) {
  for (size_t i = 0; i < kKeyBlockMarkerSize; ++i) marker[i] = stubKeyBlock.marker[i];
}

ResultCode FindKeyBlock(const std::vector<uint8_t>& image, size_t* offset, std::string* error) {
  uint8_t marker[kKeyBlockMarkerSize];
  KeyBlockMarker(marker);
  size_t count = 0;
  size_t found = 0;
  for (auto it = image.begin();;) {
    it = std::search(it, image.end(), marker, marker + kKeyBlockMarkerSize);
    if (it == image.end()) break;
    if (count++ == 0) found = static_cast<size_t>(it - image.begin());
    ++it;
  }
  const char* why = nullptr;
  if (count == 0) {
    why = "no key block: not a stub executable";
  } else if (count > 1) {
    why = "more than one key block marker: the key's place is ambiguous";
  } else if (image.size() - found < kKeyBlockSize) {
    why = "the key block is cut short by the end of the file";
  }
  if (why != nullptr) {
    if (error) *error = why;
    return kErrorFileInvalid;
  }
  *offset = found;
  return kOk;
}

ResultCode ReadStampedKey(const std::vector<uint8_t>& image, DsaPublicKey* key, std::string* error) {
  size_t offset = 0;
  ResultCode result = FindKeyBlock(image, &offset, error);
  if (result != kOk) return result;
  std::memcpy(key, image.data() + offset + kKeyBlockMarkerSize, sizeof *key);
  return kOk;
}

ResultCode StampKey(std::vector<uint8_t>* image, const DsaPublicKey& key, std::string* error) {
  size_t offset = 0;
  ResultCode result = FindKeyBlock(*image, &offset, error);
  if (result != kOk) return result;
  std::memcpy(image->data() + offset + kKeyBlockMarkerSize, &key, sizeof key);
  return kOk;
}

bool IsZeroKey(const DsaPublicKey& key) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
  return std::all_of(bytes, bytes + sizeof key, [](uint8_t b) { return b == 0; });
}

}  // namespace sfx
