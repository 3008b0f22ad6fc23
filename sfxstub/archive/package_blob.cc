#include "sfxstub/archive/package_blob.h"

#include <zlib.h>

#include <cstring>

namespace sfx {
namespace {

constexpr uint64_t kMaxDeflateRatio = 1032;

}  // namespace

ResultCode ReadPackageBlob(ByteStream& stream, HeapBlock* buffer, uint32_t* length) {
  stream.Seek(0, kSeekSet);
  uint8_t magic[kPackageBlobMagicSize] = {};
  uint32_t got = 0;
  if (!stream.Read(magic, kPackageBlobMagicSize, &got) || got != kPackageBlobMagicSize ||
      std::memcmp(magic, kPackageBlobMagic, kPackageBlobMagicSize) != 0) {
    return kDamagedPackage;
  }
  buffer->reset();
  uint32_t unpackedSize = ReadU32(stream);
  uint32_t packedSize = ReadU32(stream);
  if (unpackedSize > kMaxPackageBlobSize) return kErrorNotEnoughMemory;
  // Deflate cannot expand data more than 1032-fold: a larger declared size is impossible, and
  // allocating it would only let a tiny blob claim gigabytes.
  if (unpackedSize > static_cast<uint64_t>(packedSize) * kMaxDeflateRatio) return kDamagedPackage;
  if (static_cast<uint64_t>(stream.position) + packedSize > stream.Length()) {
    return kErrorNotEnoughMemory;
  }

  HeapBlock output(static_cast<uint8_t*>(std::malloc(unpackedSize ? unpackedSize : 1)));
  if (!output) return kErrorNotEnoughMemory;
  AcquiredBlock<ByteStream> packed(stream, packedSize);
  if (!packed) return kErrorNotEnoughMemory;

  uLongf outLength = unpackedSize;
  int status = uncompress(output.get(), &outLength, packed.get(), packedSize);
  if (status != Z_OK) return kDamagedPackage;
  *length = static_cast<uint32_t>(outLength);
  *buffer = std::move(output);
  return kOk;
}

}  // namespace sfx
