// The two PE header fields a code signer rewrites, the checksum and the Certificate Table entry, and
// where they lie in a file. Shared by the record search and the packaging tool, so both read the
// header the same way.
#ifndef SFXSTUB_VERIFY_PE_SIGNING_FIELDS_H_
#define SFXSTUB_VERIFY_PE_SIGNING_FIELDS_H_

#include <cstdint>

namespace sfx {

// Random access to the bytes of a file or a buffer.
class ByteReader {
 public:
  // Reads exactly count bytes at offset; false when that fails or comes up short.
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t count) = 0;

 protected:
  ~ByteReader() = default;
};

struct PeSigningFields {
  bool pe32Plus = false;
  uint64_t checksumAt = 0;  // file offset of the optional header's 32-bit CheckSum
  uint64_t entryAt = 0;     // file offset of the 8-byte Certificate Table entry
  uint64_t optionalHeaderEnd = 0;  // the entry lies inside the optional header when it ends by this
  uint32_t tableOffset = 0;  // the entry: the table's file offset (0: no table) and size
  uint32_t tableSize = 0;
};

// Finds the fields of a PE32 (magic 0x10B) or PE32+ (0x20B) image: "MZ" or "ZM" at 0, "PE\0\0" at the
// offset stored at 0x3C, an optional header of at least the fixed part of its kind (96 or 112 bytes)
// and at least 5 data directories. False for anything else, another optional-header magic included.
bool FindPeSigningFields(ByteReader& bytes, PeSigningFields* fields);

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_PE_SIGNING_FIELDS_H_
