#include "sfxstub/verify/pe_signing_fields.h"

#include <cstring>

namespace sfx {
namespace {

// Offsets from the "PE\0\0" signature; the optional header starts 24 bytes after it. PE32+ widens
// ImageBase and the four stack and heap sizes, which moves the directory count and the directories
// 16 bytes on.
constexpr uint32_t kPeHeaderPointer = 0x3C;
constexpr uint32_t kSizeOfOptionalHeader = 20;
constexpr uint32_t kOptionalHeader = 24;
constexpr uint32_t kCheckSum = kOptionalHeader + 64;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kMinDataDirectories = 5;  // the Certificate Table is entry 4

struct Layout {
  uint16_t minOptionalHeaderSize;
  uint32_t numberOfRvaAndSizes;
  uint32_t certificateEntry;
};
constexpr Layout kPe32 = {96, kOptionalHeader + 92, kOptionalHeader + 128};
constexpr Layout kPe32Plus = {112, kOptionalHeader + 108, kOptionalHeader + 144};

bool U16At(ByteReader& bytes, uint64_t offset, uint16_t* value) {
  uint8_t b[2];
  if (!bytes.ReadAt(offset, b, 2)) return false;
  *value = static_cast<uint16_t>(b[0] | b[1] << 8);
  return true;
}

bool U32At(ByteReader& bytes, uint64_t offset, uint32_t* value) {
  uint8_t b[4];
  if (!bytes.ReadAt(offset, b, 4)) return false;
  *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  return true;
}

}  // namespace

bool FindPeSigningFields(ByteReader& bytes, PeSigningFields* fields) {
  uint16_t dosMagic = 0;
  if (!U16At(bytes, 0, &dosMagic) || (dosMagic != 0x5A4D && dosMagic != 0x4D5A)) return false;  // MZ, ZM
  uint32_t header = 0;
  if (!U32At(bytes, kPeHeaderPointer, &header)) return false;
  uint8_t signature[4];
  if (!bytes.ReadAt(header, signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0) return false;
  uint16_t magic = 0;
  if (!U16At(bytes, uint64_t{header} + kOptionalHeader, &magic)) return false;
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
  const Layout& layout = magic == kPe32Magic ? kPe32 : kPe32Plus;
  uint16_t optionalHeaderSize = 0;
  if (!U16At(bytes, uint64_t{header} + kSizeOfOptionalHeader, &optionalHeaderSize) ||
      optionalHeaderSize < layout.minOptionalHeaderSize) {
    return false;
  }
  uint32_t directories = 0;
  if (!U32At(bytes, uint64_t{header} + layout.numberOfRvaAndSizes, &directories) ||
      directories < kMinDataDirectories) {
    return false;
  }
  PeSigningFields found;
  found.pe32Plus = magic == kPe32PlusMagic;
  found.checksumAt = uint64_t{header} + kCheckSum;
  found.entryAt = uint64_t{header} + layout.certificateEntry;
  found.optionalHeaderEnd = uint64_t{header} + kOptionalHeader + optionalHeaderSize;
  if (!U32At(bytes, found.entryAt, &found.tableOffset)) return false;
  // A file that ends inside the entry still has its offset; the size is then unknown.
  if (!U32At(bytes, found.entryAt + 4, &found.tableSize)) found.tableSize = 0;
  *fields = found;
  return true;
}

}  // namespace sfx
