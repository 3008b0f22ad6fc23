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

// Decompresses the blob that starts at offset 0 of stream into a new heap buffer of the declared
// unpacked size. Returns 0, 8 (no memory, or fewer than packed size bytes after the header) or
// 0x20000011 (wrong magic, or data that do not decompress into unpacked size bytes). On failure no
// buffer is handed out. Declared sizes of 2 GiB or more are refused with 8, and sizes deflate could
// not reach from packed size bytes with 0x20000011, before any allocation.
ResultCode ReadPackageBlob(ByteStream& stream, HeapBlock* buffer, uint32_t* length);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_BLOB_H_
