#include "tools/sfxpack/resources/resource_section.h"

#include <algorithm>
#include <map>

namespace sfx {
namespace {

uint32_t U16(const ByteVector& b, uint64_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const ByteVector& b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put16(ByteVector* b, uint64_t at, uint32_t value) {
  (*b)[at] = static_cast<uint8_t>(value);
  (*b)[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32(ByteVector* b, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kRelocationDirectory = 5;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
// Far more than any stub holds; bounds the work a hostile tree can ask for.
constexpr size_t kMaxEntries = 4096;
constexpr uint64_t kMaxTotalData = 64u << 20;
constexpr uint64_t kMaxVisited = 1u << 16;

struct Section {
  uint64_t headerAt;  // file offset of its 40-byte header
  char name[9];
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
};

// The header fields the resource section touches, with their file offsets.
struct PeHeaders {
  uint64_t optionalAt = 0;
  bool pe32Plus = false;
  uint32_t fileAlignment = 0, sectionAlignment = 0;
  uint64_t directoriesAt = 0;
  uint32_t directoryCount = 0;
  std::vector<Section> sections;

  uint32_t DirectoryRva(uint32_t index, const ByteVector& b) const {
    return index < directoryCount ? U32(b, directoriesAt + 8 * index) : 0;
  }
  uint32_t DirectorySize(uint32_t index, const ByteVector& b) const {
    return index < directoryCount ? U32(b, directoriesAt + 8 * index + 4) : 0;
  }
};

bool ReadHeaders(const ByteVector& b, PeHeaders* pe, std::string* error) {
  *error = "not a PE image";
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
  const uint64_t header = U32(b, 0x3C);
  if (header + 24 > b.size() || b[header] != 'P' || b[header + 1] != 'E' || b[header + 2] || b[header + 3]) {
    return false;
  }
  const uint32_t sectionCount = U16(b, header + 6), optionalSize = U16(b, header + 20);
  pe->optionalAt = header + 24;
  const uint64_t table = pe->optionalAt + optionalSize;
  if (optionalSize < 96 || table + uint64_t{sectionCount} * 40 > b.size()) return false;
  const uint32_t magic = U16(b, pe->optionalAt);
  if (magic != 0x10B && magic != 0x20B) return false;
  pe->pe32Plus = magic == 0x20B;
  const uint64_t fixedSize = pe->pe32Plus ? 112 : 96;
  if (optionalSize < fixedSize) return false;
  pe->sectionAlignment = U32(b, pe->optionalAt + 32);
  pe->fileAlignment = U32(b, pe->optionalAt + 36);
  pe->directoryCount = std::min<uint32_t>(U32(b, pe->optionalAt + fixedSize - 4), (optionalSize - fixedSize) / 8);
  pe->directoriesAt = pe->optionalAt + fixedSize;
  if (pe->fileAlignment == 0 || pe->sectionAlignment == 0) return false;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section s{};
    s.headerAt = table + 40 * i;
    std::copy(b.begin() + static_cast<std::ptrdiff_t>(s.headerAt), b.begin() + static_cast<std::ptrdiff_t>(s.headerAt + 8), s.name);
    s.virtualSize = U32(b, s.headerAt + 8);
    s.virtualAddress = U32(b, s.headerAt + 12);
    s.rawSize = U32(b, s.headerAt + 16);
    s.rawOffset = U32(b, s.headerAt + 20);
    pe->sections.push_back(s);
  }
  error->clear();
  return true;
}

// The section whose address range holds rva, or -1.
int SectionOf(const PeHeaders& pe, uint32_t rva) {
  for (size_t i = 0; i < pe.sections.size(); ++i) {
    const Section& s = pe.sections[i];
    if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The raw bytes of the resource section as the tree sees them: offsets inside are relative to its
// start, and data is found by address.
struct TreeReader {
  const ByteVector& image;
  uint64_t start;    // file offset of the section
  uint64_t size;     // bytes of it in the file
  uint32_t address;  // its virtual address
  std::vector<ResourceEntry>* entries;
  uint64_t totalData = 0;
  uint64_t visited = 0;  // directory entries walked: directories may share subdirectories

  bool Fits(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }

  bool ReadKey(uint32_t field, ResourceKey* key, std::string* error) {
    if (!(field & kSubdirectoryBit)) {
      if (field > 0xFFFF) return Fail("an id entry over 65535", error);
      *key = ResourceKey::Id(static_cast<uint16_t>(field));
      return true;
    }
    const uint64_t at = field & ~kSubdirectoryBit;
    if (!Fits(at, 2)) return Fail("a name outside the section", error);
    const uint32_t length = U16(image, start + at);
    if (!Fits(at + 2, uint64_t{length} * 2)) return Fail("a name outside the section", error);
    key->named = true;
    key->name.clear();
    for (uint32_t i = 0; i < length; ++i) key->name += static_cast<char16_t>(U16(image, start + at + 2 + 2 * i));
    return true;
  }

  static bool Fail(const char* why, std::string* error) {
    *error = std::string("damaged resource tree: ") + why;
    return false;
  }

  // level 0: types, 1: names, 2: languages, whose entries point at data entries.
  bool ReadDirectory(uint64_t at, int level, ResourceEntry* path, std::string* error) {
    if (!Fits(at, 16)) return Fail("a directory outside the section", error);
    const uint64_t count = uint64_t{U16(image, start + at + 12)} + U16(image, start + at + 14);
    if (!Fits(at + 16, count * 8)) return Fail("a directory outside the section", error);
    for (uint64_t i = 0; i < count; ++i) {
      if (++visited > kMaxVisited) return Fail("too many entries", error);
      const uint64_t entry = start + at + 16 + 8 * i;
      const uint32_t nameField = U32(image, entry), target = U32(image, entry + 4);
      if (level == 0 && !ReadKey(nameField, &path->type, error)) return false;
      if (level == 1 && !ReadKey(nameField, &path->name, error)) return false;
      if (level == 2) {
        if (nameField > 0xFFFF) return Fail("a language that is no id", error);
        path->language = static_cast<uint16_t>(nameField);
      }
      const bool subdirectory = (target & kSubdirectoryBit) != 0;
      if (subdirectory != (level < 2)) return Fail("a tree that is not three levels deep", error);
      if (subdirectory) {
        if (!ReadDirectory(target & ~kSubdirectoryBit, level + 1, path, error)) return false;
        continue;
      }
      if (!Fits(target, 16)) return Fail("a data entry outside the section", error);
      const uint32_t rva = U32(image, start + target), length = U32(image, start + target + 4);
      if (rva < address || !Fits(rva - address, length)) return Fail("data outside the section", error);
      totalData += length;
      if (entries->size() >= kMaxEntries || totalData > kMaxTotalData) return Fail("too many entries", error);
      path->codePage = U32(image, start + target + 8);
      const auto from = image.begin() + static_cast<std::ptrdiff_t>(start + (rva - address));
      path->data.assign(from, from + length);
      entries->push_back(*path);
    }
    return true;
  }
};

bool EntryOrder(const ResourceEntry& a, const ResourceEntry& b) {
  if (!(a.type == b.type)) return a.type < b.type;
  if (!(a.name == b.name)) return a.name < b.name;
  return a.language < b.language;
}

// The section's bytes for entries (sorted), placed at address.
ByteVector LayOut(const std::vector<ResourceEntry>& entries, uint32_t address) {
  // The tree's shape: types, each with names, each with languages (indexes into entries).
  struct NameNode { ResourceKey key; std::vector<size_t> languages; };
  struct TypeNode { ResourceKey key; std::vector<NameNode> names; };
  std::vector<TypeNode> types;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ResourceEntry& e = entries[i];
    if (types.empty() || !(types.back().key == e.type)) types.push_back({e.type, {}});
    auto& names = types.back().names;
    if (names.empty() || !(names.back().key == e.name)) names.push_back({e.name, {}});
    names.back().languages.push_back(i);
  }
  // Directories first, breadth first; then the data entries, the names and the data.
  uint64_t size = 16 + 8 * types.size();
  std::vector<uint64_t> typeDirs, nameDirs;
  for (const TypeNode& t : types) {
    typeDirs.push_back(size);
    size += 16 + 8 * t.names.size();
  }
  for (const TypeNode& t : types) {
    for (const NameNode& n : t.names) {
      nameDirs.push_back(size);
      size += 16 + 8 * n.languages.size();
    }
  }
  const uint64_t dataEntries = size;
  size += 16 * entries.size();
  std::map<std::u16string, uint64_t> strings;
  for (const TypeNode& t : types) {
    if (t.key.named) strings[t.key.name] = 0;
    for (const NameNode& n : t.names) {
      if (n.key.named) strings[n.key.name] = 0;
    }
  }
  for (auto& s : strings) {
    s.second = size;
    size += 2 + 2 * s.first.size();
  }
  std::vector<uint64_t> dataAt;
  for (const ResourceEntry& e : entries) {
    size = AlignUp(size, 8);
    dataAt.push_back(size);
    size += e.data.size();
  }
  ByteVector out(AlignUp(size, 8), 0);

  auto writeDirectory = [&](uint64_t at, const std::vector<std::pair<const ResourceKey*, uint32_t>>& children) {
    uint32_t named = 0;
    for (const auto& c : children) named += c.first->named ? 1 : 0;
    Put16(&out, at + 12, named);
    Put16(&out, at + 14, static_cast<uint32_t>(children.size()) - named);
    for (size_t i = 0; i < children.size(); ++i) {
      const ResourceKey& key = *children[i].first;
      Put32(&out, at + 16 + 8 * i, key.named ? kSubdirectoryBit | static_cast<uint32_t>(strings[key.name]) : key.id);
      Put32(&out, at + 20 + 8 * i, children[i].second);
    }
  };
  std::vector<std::pair<const ResourceKey*, uint32_t>> children;
  for (size_t i = 0; i < types.size(); ++i) {
    children.push_back({&types[i].key, kSubdirectoryBit | static_cast<uint32_t>(typeDirs[i])});
  }
  writeDirectory(0, children);
  size_t nameIndex = 0;
  for (size_t i = 0; i < types.size(); ++i) {
    children.clear();
    for (const NameNode& n : types[i].names) {
      children.push_back({&n.key, kSubdirectoryBit | static_cast<uint32_t>(nameDirs[nameIndex++])});
    }
    writeDirectory(typeDirs[i], children);
  }
  nameIndex = 0;
  std::vector<ResourceKey> languageKeys(entries.size());
  for (const TypeNode& t : types) {
    for (const NameNode& n : t.names) {
      children.clear();
      for (size_t index : n.languages) {
        languageKeys[index] = ResourceKey::Id(entries[index].language);
        children.push_back({&languageKeys[index], static_cast<uint32_t>(dataEntries + 16 * index)});
      }
      writeDirectory(nameDirs[nameIndex++], children);
    }
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    Put32(&out, dataEntries + 16 * i, address + static_cast<uint32_t>(dataAt[i]));
    Put32(&out, dataEntries + 16 * i + 4, static_cast<uint32_t>(entries[i].data.size()));
    Put32(&out, dataEntries + 16 * i + 8, entries[i].codePage);
    std::copy(entries[i].data.begin(), entries[i].data.end(), out.begin() + static_cast<std::ptrdiff_t>(dataAt[i]));
  }
  for (const auto& s : strings) {
    Put16(&out, s.second, static_cast<uint32_t>(s.first.size()));
    for (size_t i = 0; i < s.first.size(); ++i) Put16(&out, s.second + 2 + 2 * i, s.first[i]);
  }
  return out;
}

}  // namespace

uint64_t ResourceSectionEnd(const ByteVector& head) {
  PeHeaders pe;
  std::string ignored;
  if (!ReadHeaders(head, &pe, &ignored)) return head.size();
  const uint32_t rva = pe.DirectoryRva(kResourceDirectory, head);
  const int index = rva ? SectionOf(pe, rva) : -1;
  if (index < 0) return head.size();
  const Section& s = pe.sections[static_cast<size_t>(index)];
  return std::max<uint64_t>(head.size(), uint64_t{s.rawOffset} + s.rawSize);
}

bool ResourceSection::Load(const ByteVector& image, std::string* error) {
  entries_.clear();
  PeHeaders pe;
  if (!ReadHeaders(image, &pe, error)) return false;
  const uint32_t rva = pe.DirectoryRva(kResourceDirectory, image);
  if (rva == 0) return true;
  const int index = SectionOf(pe, rva);
  if (index < 0) return TreeReader::Fail("its directory lies in no section", error);
  const Section& s = pe.sections[static_cast<size_t>(index)];
  const uint64_t inFile = std::min<uint64_t>(s.rawSize, image.size() > s.rawOffset ? image.size() - s.rawOffset : 0);
  const uint32_t skip = rva - s.virtualAddress;
  if (skip >= inFile) return TreeReader::Fail("its directory lies outside the file", error);
  TreeReader reader{image, uint64_t{s.rawOffset} + skip, inFile - skip, rva, &entries_};
  ResourceEntry path;
  if (!reader.ReadDirectory(0, 0, &path, error)) {
    entries_.clear();
    return false;
  }
  std::stable_sort(entries_.begin(), entries_.end(), EntryOrder);
  return true;
}

const ResourceEntry* ResourceSection::Find(const ResourceKey& type, const ResourceKey& name) const {
  for (const ResourceEntry& e : entries_) {
    if (e.type == type && e.name == name) return &e;
  }
  return nullptr;
}

void ResourceSection::Put(const ResourceKey& type, const ResourceKey& name, ByteVector data) {
  const ResourceEntry* old = Find(type, name);
  ResourceEntry entry{type, name, old ? old->language : kLanguageEnglishUs, 0, std::move(data)};
  Remove(type, name);
  entries_.insert(std::upper_bound(entries_.begin(), entries_.end(), entry, EntryOrder), std::move(entry));
}

void ResourceSection::Remove(const ResourceKey& type, const ResourceKey& name) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const ResourceEntry& e) { return e.type == type && e.name == name; }),
                 entries_.end());
}

bool ResourceSection::Store(ByteVector* image, std::string* error) const {
  ByteVector& b = *image;
  PeHeaders pe;
  if (!ReadHeaders(b, &pe, error)) return false;
  const auto refuse = [&](const std::string& why) {
    *error = "cannot rewrite the resources of this image: " + why;
    return false;
  };
  if (pe.DirectoryRva(kCertificateDirectory, b) != 0 || pe.DirectorySize(kCertificateDirectory, b) != 0) {
    return refuse("it has a certificate table");
  }
  const uint32_t rva = pe.DirectoryRva(kResourceDirectory, b);
  const int index = rva ? SectionOf(pe, rva) : -1;
  if (index < 0 || pe.sections[static_cast<size_t>(index)].virtualAddress != rva) {
    return refuse("it has no resource section of its own");
  }
  const size_t last = pe.sections.size() - 1;
  const size_t at = static_cast<size_t>(index);
  const Section& rsrc = pe.sections[at];
  if (at != last && !(at + 1 == last && std::string(pe.sections[last].name) == ".reloc")) {
    return refuse("its resource section is followed by sections other than .reloc");
  }
  // Every other section's data and addresses lie before the resource section's.
  for (size_t i = 0; i < at; ++i) {
    const Section& s = pe.sections[i];
    if ((s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize > rsrc.rawOffset) ||
        uint64_t{s.virtualAddress} + s.virtualSize > rsrc.virtualAddress) {
      return refuse("its sections are not laid out in order");
    }
  }
  const Section& end = pe.sections[last];
  if (at != last && (rsrc.rawOffset + uint64_t{rsrc.rawSize} != end.rawOffset ||
                     AlignUp(uint64_t{rsrc.virtualAddress} + rsrc.virtualSize, pe.sectionAlignment) != end.virtualAddress)) {
    return refuse("its .reloc section does not follow the resource section directly");
  }
  if (uint64_t{end.rawOffset} + end.rawSize != b.size()) {
    return refuse(uint64_t{end.rawOffset} + end.rawSize < b.size() ? "data follows its last section"
                                                                    : "its last section runs past the end of the file");
  }
  // Nothing but the resource and relocation directories may point into the sections that move.
  for (uint32_t d = 0; d < pe.directoryCount; ++d) {
    const uint32_t where = pe.DirectoryRva(d, b);
    if (where == 0 || d == kResourceDirectory || d == kRelocationDirectory) continue;
    const int in = SectionOf(pe, where);
    if (in >= index) return refuse("data directory " + std::to_string(d) + " points into a section that moves");
  }
  if (at != last) {
    const uint32_t relocations = pe.DirectoryRva(kRelocationDirectory, b);
    if (relocations != 0 && SectionOf(pe, relocations) != static_cast<int>(last)) {
      return refuse("its relocations are not in its .reloc section");
    }
  }

  const ByteVector section = LayOut(entries_, rva);
  const uint64_t rawSize = AlignUp(section.size(), pe.fileAlignment);
  const int64_t rawDelta = static_cast<int64_t>(rawSize) - rsrc.rawSize;
  const int64_t virtualDelta = static_cast<int64_t>(AlignUp(section.size(), pe.sectionAlignment)) -
                               static_cast<int64_t>(AlignUp(rsrc.virtualSize, pe.sectionAlignment));
  if (rawSize > (64u << 20)) return refuse("the resources would exceed 64 MiB");

  ByteVector out(b.begin(), b.begin() + rsrc.rawOffset);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(rsrc.rawOffset + rawSize, 0);
  out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(uint64_t{rsrc.rawOffset} + rsrc.rawSize), b.end());

  Put32(&out, rsrc.headerAt + 8, static_cast<uint32_t>(section.size()));
  Put32(&out, rsrc.headerAt + 16, static_cast<uint32_t>(rawSize));
  uint64_t imageEnd = AlignUp(uint64_t{rsrc.virtualAddress} + section.size(), pe.sectionAlignment);
  if (at != last) {
    Put32(&out, end.headerAt + 12, static_cast<uint32_t>(end.virtualAddress + virtualDelta));
    Put32(&out, end.headerAt + 20, static_cast<uint32_t>(end.rawOffset + rawDelta));
    imageEnd = AlignUp(uint64_t{end.virtualAddress} + virtualDelta + end.virtualSize, pe.sectionAlignment);
    const uint32_t relocations = pe.DirectoryRva(kRelocationDirectory, b);
    if (relocations != 0) {
      Put32(&out, pe.directoriesAt + 8 * kRelocationDirectory, static_cast<uint32_t>(relocations + virtualDelta));
    }
  }
  Put32(&out, pe.directoriesAt + 8 * kResourceDirectory + 4, static_cast<uint32_t>(section.size()));
  Put32(&out, pe.optionalAt + 56, static_cast<uint32_t>(imageEnd));
  Put32(&out, pe.optionalAt + 8, static_cast<uint32_t>(U32(b, pe.optionalAt + 8) + rawDelta));
  Put32(&out, pe.optionalAt + 64, 0);
  b.swap(out);
  return true;
}

}  // namespace sfx
