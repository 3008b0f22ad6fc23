// Listed files deflated as zlib streams: a "FILE" record with a "ZLIB" sub-chunk (the unpacked size,
// 32-bit little-endian) has one zlib stream at its "PTRL" range; without one the range holds the
// file's bytes. The rule for which files are kept deflated, which both writers share with the
// compressor (segmented_deflate.h), so that the package written in one pass and the one laid out in
// memory are the same bytes.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfx {

// How build packs the listed files (the main program is a package blob at level 9 whatever these say).
struct PackingOptions {
  int level = 9;       // zlib's level, 0-9; 0 stores every file, as --store does
  bool store = false;  // every listed file stored
  bool Deflates() const { return !store && level > 0; }
};

// Whether a file of size bytes is kept as its zlib stream of packedSize bytes: not empty, saving at
// least 1 % of its size, and within the ratio the stub accepts (which a real stream always is).
bool KeepsDeflated(uint64_t size, uint64_t packedSize);
// True once packedSize bytes of a file's stream are already too many to keep it deflated: the
// stream only grows, so compressing further is wasted.
bool CannotKeepDeflated(uint64_t size, uint64_t packedSize);

// A listed file as it goes into a package laid out in memory: true with its zlib stream in *packed,
// or false when it is stored (options say so, or deflating would not save 1 %).
bool PackListedBytes(const std::vector<uint8_t>& bytes, const PackingOptions& options,
                     std::vector<uint8_t>* packed);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_
