// What a stub can read. The stub image carries kStubFeaturesMarker followed by a 32-bit
// little-endian mask, so that the packaging tool never writes what an older stub, which has no
// marker, would misread: such a stub skips a "ZLIB" sub-chunk and would write the compressed bytes
// as the file.
#ifndef SFXSTUB_ARCHIVE_STUB_FEATURES_H_
#define SFXSTUB_ARCHIVE_STUB_FEATURES_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

constexpr char kStubFeaturesMarker[] = "JUXsetupFeatures";
constexpr uint32_t kStubFeaturesMarkerSize = 16;
constexpr uint32_t kStubFeatureDeflatedFiles = 1;  // inflates listed files with a "ZLIB" sub-chunk

// The mask after the first marker in image[0, imageEnd) (the executable image, not what is appended
// to it); 0 when there is none, or when the mask would run past imageEnd.
uint32_t FindStubFeatures(const uint8_t* image, size_t imageEnd);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_STUB_FEATURES_H_
