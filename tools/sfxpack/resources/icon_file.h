// An .ico file, read for the stub's icon group: every image it holds (PNG-compressed ones included)
// becomes an icon resource, and the group directory lists them.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_ICON_FILE_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_ICON_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/resources/resource_section.h"

namespace sfx {

constexpr size_t kMaxIconFileSize = 4u << 20;
constexpr size_t kMaxIconImageSize = 1u << 20;

struct IconImage {
  uint8_t width = 0, height = 0, colorCount = 0;  // 0 in width or height means 256
  uint16_t planes = 0, bitCount = 0;
  ByteVector data;  // a PNG file or a DIB without its file header
};

class IconFile {
 public:
  // Reads an icon file: header (0, type 1, count > 0), 16-byte entries, each image inside the file
  // and at most kMaxIconImageSize, each a PNG or a DIB; the file at most kMaxIconFileSize. The error
  // says what is wrong ("a cursor, not an icon", "image 2 runs past the end of the file", ...).
  bool Parse(const ByteVector& file, std::string* error);
  const std::vector<IconImage>& images() const { return images_; }

  // Makes group the icon group of these images, numbered from 1; the icons of the group it
  // replaces go. Fails when another group's icon holds one of those numbers.
  bool Apply(uint16_t group, ResourceSection* section, std::string* error) const;

 private:
  std::vector<IconImage> images_;
};

// The sizes of an icon group's images ("32x32", "256x256"), in its order; empty when there is none.
std::vector<std::string> IconGroupSizes(const ResourceSection& section, uint16_t group);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_ICON_FILE_H_
