#include "tools/sfxpack/resources/icon_file.h"

#include <cstring>

namespace sfx {
namespace {

uint32_t U16(const ByteVector& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const ByteVector& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Add16(ByteVector* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(ByteVector* b, uint32_t v) {
  Add16(b, v & 0xFFFF);
  Add16(b, v >> 16);
}

constexpr size_t kHeaderSize = 6, kFileEntrySize = 16, kGroupEntrySize = 14;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsImage(const ByteVector& data) {
  if (data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) return true;
  // BITMAPINFOHEADER, BITMAPV4HEADER, BITMAPV5HEADER.
  if (data.size() < 40) return false;
  const uint32_t header = U32(data, 0);
  return header == 40 || header == 108 || header == 124;
}

// The group directory of section's group, or null.
const ByteVector* GroupData(const ResourceSection& section, uint16_t group) {
  const ResourceEntry* entry = section.Find(ResourceKey::Id(kResourceIconGroup), ResourceKey::Id(group));
  if (!entry || entry->data.size() < kHeaderSize) return nullptr;
  if (entry->data.size() < kHeaderSize + kGroupEntrySize * U16(entry->data, 4)) return nullptr;
  return &entry->data;
}

}  // namespace

bool IconFile::Parse(const ByteVector& file, std::string* error) {
  images_.clear();
  const auto fail = [&](const std::string& why) {
    images_.clear();
    *error = why;
    return false;
  };
  if (file.size() > kMaxIconFileSize) {
    return fail("an icon file over " + std::to_string(kMaxIconFileSize >> 20) + " MiB");
  }
  if (file.size() < kHeaderSize || U16(file, 0) != 0) return fail("not an icon file");
  if (U16(file, 2) == 2) return fail("a cursor, not an icon");
  if (U16(file, 2) != 1) return fail("not an icon file");
  const size_t count = U16(file, 4);
  if (count == 0) return fail("an icon file with no image");
  if (kHeaderSize + kFileEntrySize * count > file.size()) return fail("its image directory runs past the end of the file");
  for (size_t i = 0; i < count; ++i) {
    const size_t at = kHeaderSize + kFileEntrySize * i;
    const uint64_t size = U32(file, at + 8), offset = U32(file, at + 12);
    const std::string which = "image " + std::to_string(i + 1);
    if (offset > file.size() || size > file.size() - offset) return fail(which + " runs past the end of the file");
    if (size > kMaxIconImageSize) return fail(which + " is over " + std::to_string(kMaxIconImageSize >> 20) + " MiB");
    IconImage image;
    image.width = file[at];
    image.height = file[at + 1];
    image.colorCount = file[at + 2];
    image.planes = static_cast<uint16_t>(U16(file, at + 4));
    image.bitCount = static_cast<uint16_t>(U16(file, at + 6));
    image.data.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                      file.begin() + static_cast<std::ptrdiff_t>(offset + size));
    if (!IsImage(image.data)) return fail(which + " is neither a PNG nor a bitmap");
    images_.push_back(std::move(image));
  }
  return true;
}

bool IconFile::Apply(uint16_t group, ResourceSection* section, std::string* error) const {
  const ResourceKey iconType = ResourceKey::Id(kResourceIcon);
  if (const ByteVector* old = GroupData(*section, group)) {
    const ByteVector oldGroup = *old;
    for (size_t i = 0; i < U16(oldGroup, 4); ++i) {
      section->Remove(iconType, ResourceKey::Id(static_cast<uint16_t>(U16(oldGroup, kHeaderSize + kGroupEntrySize * i + 12))));
    }
  }
  ByteVector directory;
  Add16(&directory, 0);
  Add16(&directory, 1);
  Add16(&directory, static_cast<uint32_t>(images_.size()));
  for (size_t i = 0; i < images_.size(); ++i) {
    const IconImage& image = images_[i];
    const uint16_t id = static_cast<uint16_t>(i + 1);
    if (section->Find(iconType, ResourceKey::Id(id))) {
      *error = "icon " + std::to_string(id) + " belongs to another icon group";
      return false;
    }
    section->Put(iconType, ResourceKey::Id(id), image.data);
    directory.push_back(image.width);
    directory.push_back(image.height);
    directory.push_back(image.colorCount);
    directory.push_back(0);
    Add16(&directory, image.planes);
    Add16(&directory, image.bitCount);
    Add32(&directory, static_cast<uint32_t>(image.data.size()));
    Add16(&directory, id);
  }
  section->Put(ResourceKey::Id(kResourceIconGroup), ResourceKey::Id(group), std::move(directory));
  return true;
}

std::vector<std::string> IconGroupSizes(const ResourceSection& section, uint16_t group) {
  std::vector<std::string> sizes;
  const ByteVector* data = GroupData(section, group);
  if (!data) return sizes;
  for (size_t i = 0; i < U16(*data, 4); ++i) {
    const size_t at = kHeaderSize + kGroupEntrySize * i;
    const unsigned width = (*data)[at] ? (*data)[at] : 256, height = (*data)[at + 1] ? (*data)[at + 1] : 256;
    sizes.push_back(std::to_string(width) + "x" + std::to_string(height));
  }
  return sizes;
}

}  // namespace sfx
