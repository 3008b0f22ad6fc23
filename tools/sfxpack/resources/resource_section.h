// The resource tree of a PE image, read and written back in place. Reading takes any image; writing
// takes only the layout our stubs have: the resource section last, or followed by a ".reloc" section
// that ends the image, no certificate table and nothing after the last section. The section is laid
// out again (directories, data entries, names, then the data, 8-byte aligned), the relocations move
// by the change in its aligned size, and the headers follow: data directories, SizeOfImage,
// SizeOfInitializedData, and a checksum of 0, as after any change a code signer has not seen.
// Portable: the same code runs in the Windows sfxpack.exe.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_RESOURCE_SECTION_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_RESOURCE_SECTION_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sfx {

using ByteVector = std::vector<uint8_t>;

// Resource types used here.
constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceString = 6;
constexpr uint16_t kResourceIconGroup = 14;
constexpr uint16_t kResourceVersion = 16;
constexpr uint16_t kResourceManifest = 24;
// U.S. English, the language of what the tool adds.
constexpr uint16_t kLanguageEnglishUs = 0x0409;

// A resource type or name: a 16-bit id, or a name in UTF-16 code units. Names sort before ids,
// names by their code units, ids by value: the order the format requires of a directory.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;

  static ResourceKey Id(uint16_t id) { return ResourceKey{false, id, {}}; }
  bool operator==(const ResourceKey& other) const {
    return named == other.named && (named ? name == other.name : id == other.id);
  }
  bool operator<(const ResourceKey& other) const {
    if (named != other.named) return named;
    return named ? name < other.name : id < other.id;
  }
};

struct ResourceEntry {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  ByteVector data;
};

// How many bytes from the start of a file Load needs to read its resource tree, found from head,
// the file's first bytes: the end of the resource section's data, or head's size when the image has
// no resources or head is no PE image. Lets a large program be read only as far as its resources.
uint64_t ResourceSectionEnd(const ByteVector& head);

class ResourceSection {
 public:
  // Reads image's resource tree (none: an empty tree). Fails on a tree that is not three levels
  // deep, or whose offsets or sizes leave the section.
  bool Load(const ByteVector& image, std::string* error);

  // Every entry, sorted by type, name and language.
  const std::vector<ResourceEntry>& entries() const { return entries_; }
  // The first language's entry of (type, name), or null.
  const ResourceEntry* Find(const ResourceKey& type, const ResourceKey& name) const;
  // Makes data the one entry of (type, name), in the language of the entry it replaces (U.S.
  // English when it is new).
  void Put(const ResourceKey& type, const ResourceKey& name, ByteVector data);
  // Removes every language of (type, name).
  void Remove(const ResourceKey& type, const ResourceKey& name);

  // Writes the tree into image, which must be the image Load read (or one with the same layout).
  bool Store(ByteVector* image, std::string* error) const;

 private:
  std::vector<ResourceEntry> entries_;
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_RESOURCE_SECTION_H_
