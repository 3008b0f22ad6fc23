// Writing package blobs (package_blob.h), for the packaging tool and tests: kept apart so that the
// stub, which only reads them, links no compressor.
#ifndef SFXSTUB_ARCHIVE_PACKAGE_BLOB_WRITER_H_
#define SFXSTUB_ARCHIVE_PACKAGE_BLOB_WRITER_H_

#include <cstdint>
#include <vector>

#include "sfxstub/archive/package_blob.h"
#include "sfxstub/result_code.h"

namespace sfx {

// Appends a blob holding data, compressed with zlib at level 9, to out. Returns 0, or 8 when the
// data are too large for a blob or compression fails.
ResultCode WritePackageBlob(const uint8_t* data, uint32_t size, std::vector<uint8_t>* out);
// Appends the header of a blob whose zlib stream of packedSize bytes follows.
void AppendPackageBlobHeader(uint32_t size, uint32_t packedSize, std::vector<uint8_t>* out);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_PACKAGE_BLOB_WRITER_H_
