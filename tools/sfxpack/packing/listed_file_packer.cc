#include "tools/sfxpack/packing/listed_file_packer.h"

#include "sfxstub/archive/package_blob.h"
#include "tools/sfxpack/packing/segmented_deflate.h"

namespace sfx {

bool KeepsDeflated(uint64_t size, uint64_t packedSize) {
  return size != 0 && packedSize != 0 && !CannotKeepDeflated(size, packedSize) &&
         size <= kMaxDeflateRatio * packedSize;
}

bool CannotKeepDeflated(uint64_t size, uint64_t packedSize) {
  // Sizes stay under 2^32, so neither product overflows.
  return packedSize * 100 > size * 99;
}

bool PackListedBytes(const std::vector<uint8_t>& bytes, const PackingOptions& options,
                     std::vector<uint8_t>* packed) {
  packed->clear();
  if (!options.Deflates() || bytes.empty()) return false;
  if (!DeflateSegmented(bytes.data(), bytes.size(), options.level, packed, CannotKeepDeflated) ||
      !KeepsDeflated(bytes.size(), packed->size())) {
    packed->clear();
    return false;
  }
  return true;
}

}  // namespace sfx
