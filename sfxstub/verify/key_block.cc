#include "sfxstub/verify/key_block.h"

#include <algorithm>
#include <cstring>

namespace sfx {
namespace {

uint32_t U16At(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// PE/COFF offsets: the header pointer in the DOS header; from the "PE\0\0" signature, the section
// count and the optional header's size; in a 40-byte section header, the raw data's size and offset.
constexpr size_t kPeHeaderPointer = 0x3C;
constexpr size_t kNumberOfSections = 6;
constexpr size_t kSizeOfOptionalHeader = 20;
constexpr size_t kSectionTable = 24;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSizeOfRawData = 16;
constexpr size_t kPointerToRawData = 20;

}  // namespace

size_t PeImageEnd(const std::vector<uint8_t>& bytes) {
  const size_t size = bytes.size();
  if (size < kPeHeaderPointer + 4 || bytes[0] != 'M' || bytes[1] != 'Z') return size;
  const uint64_t header = U32At(bytes, kPeHeaderPointer);
  if (header + kSectionTable > size || std::memcmp(bytes.data() + header, "PE\0\0", 4) != 0) return size;
  const uint32_t sections = U16At(bytes, header + kNumberOfSections);
  const uint64_t table = header + kSectionTable + U16At(bytes, header + kSizeOfOptionalHeader);
  if (sections == 0 || table + uint64_t{sections} * kSectionHeaderSize > size) return size;
  uint64_t end = 0;
  for (uint32_t i = 0; i < sections; ++i) {
    const size_t at = static_cast<size_t>(table + uint64_t{i} * kSectionHeaderSize);
    end = std::max<uint64_t>(end, uint64_t{U32At(bytes, at + kPointerToRawData)} + U32At(bytes, at + kSizeOfRawData));
  }
  return end < size ? static_cast<size_t>(end) : size;
}

ResultCode FindKeyBlock(const std::vector<uint8_t>& image, size_t* offset, std::string* error) {
  uint8_t marker[kKeyBlockMarkerSize];
  KeyBlockMarker(marker);
  size_t count = 0;
  size_t found = 0;
  // Only the executable image: a package may carry other stubs, with blocks of their own, as files.
  const auto end = image.begin() + static_cast<std::ptrdiff_t>(PeImageEnd(image));
  for (auto it = image.begin();;) {
    it = std::search(it, end, marker, marker + kKeyBlockMarkerSize);
    if (it == end) break;
    if (count++ == 0) found = static_cast<size_t>(it - image.begin());
    ++it;
  }
  const char* why = nullptr;
  if (count == 0) {
    why = "no key block: not a stub executable";
  } else if (count > 1) {
    why = "more than one key block marker: the key's place is ambiguous";
  } else if (static_cast<size_t>(end - image.begin()) - found < kKeyBlockSize) {
    why = "the key block is cut short by the end of the file";
  }
  if (why != nullptr) {
    if (error) *error = why;
    return kErrorFileInvalid;
  }
  *offset = found;
  return kOk;
}

ResultCode ReadStampedKey(const std::vector<uint8_t>& image, DsaPublicKey* key, std::string* error) {
  size_t offset = 0;
  ResultCode result = FindKeyBlock(image, &offset, error);
  if (result != kOk) return result;
  std::memcpy(key, image.data() + offset + kKeyBlockMarkerSize, sizeof *key);
  return kOk;
}

ResultCode StampKey(std::vector<uint8_t>* image, const DsaPublicKey& key, std::string* error) {
  size_t offset = 0;
  ResultCode result = FindKeyBlock(*image, &offset, error);
  if (result != kOk) return result;
  std::memcpy(image->data() + offset + kKeyBlockMarkerSize, &key, sizeof key);
  return kOk;
}

}  // namespace sfx
