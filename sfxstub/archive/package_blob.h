// A package blob: the 16-byte magic "JUXsetupFPkgFile", the unpacked size, the packed size (both
// 32-bit little-endian) and one zlib stream of packed size bytes.
#ifndef SFXSTUB_ARCHIVE_PACKAGE_BLOB_H_
#define SFXSTUB_ARCHIVE_PACKAGE_BLOB_H_

#include <cstdint>

#include "sfxstub/archive/byte_stream.h"
#include "sfxstub/archive/heap_block.h"
#include "sfxstub/result_code.h"

namespace sfx {

constexpr char kPackageBlobMagic[] = "JUXsetupFPkgFile";
constexpr uint32_t kPackageBlobMagicSize = 16;
constexpr uint32_t kPackageBlobHeaderSize = 24;
// The largest block a 32-bit process and a 32-bit stream position can hold (2 GiB - 1).
constexpr uint32_t kMaxPackageBlobSize = 0x7FFFFFFF;
// Deflate cannot expand data more than 1032-fold: a larger declared size is impossible.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Decompresses the blob that starts at offset 0 of stream into a new heap buffer of the declared
// unpacked size. Returns 0, 8 (no memory, or fewer than packed size bytes after the header) or
// 0x20000011 (wrong magic, or data that do not decompress into unpacked size bytes). On failure no
// buffer is handed out. Declared sizes of 2 GiB or more are refused with 8, and sizes deflate could
// not reach from packed size bytes with 0x20000011, before any allocation.
ResultCode ReadPackageBlob(ByteStream& stream, HeapBlock* buffer, uint32_t* length);

struct PackageBlobHeader {
  uint32_t unpackedSize = 0;
  uint32_t packedSize = 0;
};

// The header of the blob of size bytes that starts at stream's position, with the checks
// ReadPackageBlob makes before it allocates: 0 with the stream just after the header, 8 or 0x20000011.
ResultCode ReadPackageBlobHeader(ByteStream& stream, uint32_t size, PackageBlobHeader* header);

// Inflates the zlib data that follow a header just read into output, in pieces: the packed bytes are
// read and the inflated bytes written through two fixed buffers of pieceSize bytes, so memory does
// not grow with the blob. *written receives the bytes written. Returns 0; 0x20000011 when the data
// are corrupt, end early, fail their Adler-32 check or inflate past unpacked size; 8 when the buffers
// cannot be had; kErrorReadFault when a read of stream fails (its own error tells why) and
// kErrorWriteFault when a write to output fails or comes up short. What was written stays: the caller
// owns output.
ResultCode InflatePackageBlob(ByteStream& stream, const PackageBlobHeader& header, ByteStream& output,
                              uint32_t pieceSize, uint32_t* written);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_BLOB_H_
