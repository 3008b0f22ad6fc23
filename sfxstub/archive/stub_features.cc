#include "sfxstub/archive/stub_features.h"

#include <cstring>

namespace sfx {

uint32_t FindStubFeatures(const uint8_t* image, size_t imageEnd) {
  const size_t record = kStubFeaturesMarkerSize + 4;
  for (size_t at = 0; at + record <= imageEnd; ++at) {
    if (image[at] != 'J' || std::memcmp(image + at, kStubFeaturesMarker, kStubFeaturesMarkerSize) != 0) continue;
    const uint8_t* mask = image + at + kStubFeaturesMarkerSize;
    return static_cast<uint32_t>(mask[0]) | static_cast<uint32_t>(mask[1]) << 8 |
           static_cast<uint32_t>(mask[2]) << 16 | static_cast<uint32_t>(mask[3]) << 24;
  }
  return 0;
}

}  // namespace sfx
