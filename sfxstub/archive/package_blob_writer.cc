#include "sfxstub/archive/package_blob_writer.h"

#include <zlib.h>

namespace sfx {
namespace {

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

ResultCode WritePackageBlob(const uint8_t* data, uint32_t size, std::vector<uint8_t>* out) {
  if (size > kMaxPackageBlobSize) return kErrorNotEnoughMemory;
  uLongf packedSize = compressBound(size);
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, data, size, Z_BEST_COMPRESSION) != Z_OK) {
    return kErrorNotEnoughMemory;
  }
  AppendPackageBlobHeader(size, static_cast<uint32_t>(packedSize), out);
  out->insert(out->end(), packed.begin(), packed.begin() + packedSize);
  return kOk;
}

void AppendPackageBlobHeader(uint32_t size, uint32_t packedSize, std::vector<uint8_t>* out) {
  out->insert(out->end(), kPackageBlobMagic, kPackageBlobMagic + kPackageBlobMagicSize);
  AppendU32(out, size);
  AppendU32(out, packedSize);
}

}  // namespace sfx
