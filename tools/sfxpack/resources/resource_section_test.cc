// The resource section writer on a small image of the stubs' layout (.text, .rsrc, .reloc); the real
// stubs are checked against other tools' readers in branding_test.sh.
#include "tools/sfxpack/resources/resource_section.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

uint32_t U32(const ByteVector& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(ByteVector* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kPe = 0x80, kOptional = kPe + 24, kDirectories = kOptional + 96, kSections = kDirectories + 16 * 8;
constexpr uint32_t kRelocationRaw = 0x800, kRelocationAddress = 0x3000;
const char* const kNames[] = {".text", ".rsrc", ".reloc"};

// A PE32 image: .text at 0x1000, an empty resource tree in .rsrc at 0x2000, 16 relocation bytes in
// .reloc at 0x3000; file alignment 0x200, section alignment 0x1000.
ByteVector SmallImage() {
  ByteVector b(0xA00, 0);
  b[0] = 'M', b[1] = 'Z';
  Put32(&b, 0x3C, kPe);
  b[kPe] = 'P', b[kPe + 1] = 'E';
  b[kPe + 4] = 0x4C, b[kPe + 5] = 0x01;  // i386
  b[kPe + 6] = 3;                         // sections
  b[kPe + 20] = 96 + 16 * 8;              // optional header size
  b[kOptional] = 0x0B, b[kOptional + 1] = 0x01;
  Put32(&b, kOptional + 8, 0x600);     // SizeOfInitializedData
  Put32(&b, kOptional + 32, 0x1000);   // SectionAlignment
  Put32(&b, kOptional + 36, 0x200);    // FileAlignment
  Put32(&b, kOptional + 56, 0x4000);   // SizeOfImage
  Put32(&b, kOptional + 64, 0x1234);   // CheckSum
  Put32(&b, kOptional + 92, 16);
  Put32(&b, kDirectories + 8 * 2, 0x2000);
  Put32(&b, kDirectories + 8 * 2 + 4, 16);
  Put32(&b, kDirectories + 8 * 5, kRelocationAddress);
  Put32(&b, kDirectories + 8 * 5 + 4, 16);
  for (uint32_t i = 0; i < 3; ++i) {
    const size_t at = kSections + 40 * i;
    std::copy(kNames[i], kNames[i] + std::string(kNames[i]).size(), b.begin() + at);
    Put32(&b, at + 8, i == 1 ? 16 : 0x10);
    Put32(&b, at + 12, 0x1000 * (i + 1));
    Put32(&b, at + 16, 0x200);
    Put32(&b, at + 20, 0x400 + 0x200 * i);
  }
  for (int i = 0; i < 16; ++i) b[kRelocationRaw + i] = static_cast<uint8_t>(0xA0 + i);
  return b;
}

ByteVector Fill(size_t size, uint8_t seed) {
  ByteVector data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
  return data;
}

ResourceKey Named(const std::u16string& name) { return ResourceKey{true, 0, name}; }

TEST(ResourceSection, GrowingTheSectionMovesTheRelocationsAndTheHeadersFollow) {
  ByteVector image = SmallImage();
  ResourceSection section;
  std::string error;
  ASSERT_TRUE(section.Load(image, &error)) << error;
  EXPECT_TRUE(section.entries().empty());
  section.Put(ResourceKey::Id(kResourceVersion), ResourceKey::Id(1), Fill(5000, 1));
  section.Put(Named(u"AVI"), ResourceKey::Id(129), Fill(3, 2));
  section.Put(ResourceKey::Id(kResourceIcon), Named(u"B"), Fill(10, 3));
  section.Put(ResourceKey::Id(kResourceIcon), Named(u"A"), Fill(11, 4));
  section.Put(ResourceKey::Id(kResourceIcon), ResourceKey::Id(2), Fill(12, 5));
  ASSERT_TRUE(section.Store(&image, &error)) << error;

  // 5000 bytes of data and 400 of the tree: two 4 KiB pages, 0x1600 bytes in the file (0x1400 more).
  const size_t relocation = kSections + 80;
  EXPECT_EQ(U32(image, relocation + 12), 0x4000u);                  // its address
  EXPECT_EQ(U32(image, relocation + 20), kRelocationRaw + 0x1400u);  // its data in the file
  EXPECT_EQ(image.size(), 0xA00u + 0x1400u);
  const ByteVector relocations(image.end() - 0x200, image.end() - 0x200 + 16);
  const ByteVector original = SmallImage();
  EXPECT_EQ(relocations, ByteVector(original.begin() + kRelocationRaw, original.begin() + kRelocationRaw + 16));
  EXPECT_EQ(U32(image, kDirectories + 8 * 5), 0x4000u);
  EXPECT_EQ(U32(image, kDirectories + 8 * 2 + 4), U32(image, kSections + 40 + 8));
  EXPECT_EQ(U32(image, kSections + 40 + 16), 0x1600u);
  EXPECT_EQ(U32(image, kOptional + 56), 0x5000u);
  EXPECT_EQ(U32(image, kOptional + 8), 0x600u + 0x1400u);
  EXPECT_EQ(U32(image, kOptional + 64), 0u);

  // Read back: the same entries, names before ids at every level.
  ResourceSection again;
  ASSERT_TRUE(again.Load(image, &error)) << error;
  ASSERT_EQ(again.entries().size(), 5u);
  EXPECT_EQ(again.entries()[0].type, Named(u"AVI"));
  EXPECT_EQ(again.entries()[1].name, Named(u"A"));
  EXPECT_EQ(again.entries()[2].name, Named(u"B"));
  EXPECT_EQ(again.entries()[3].name, ResourceKey::Id(2));
  EXPECT_EQ(again.entries()[4].data, Fill(5000, 1));
  // The root directory counts one named type and two id types, the named one first.
  const size_t root = 0x400 + 0x200;
  EXPECT_EQ(image[root + 12], 1);
  EXPECT_EQ(image[root + 14], 2);
  EXPECT_NE(U32(image, root + 16) & 0x80000000u, 0u);

  // Shrinking back gives the layout it started with.
  again.Remove(ResourceKey::Id(kResourceVersion), ResourceKey::Id(1));
  ASSERT_TRUE(again.Store(&image, &error)) << error;
  EXPECT_EQ(U32(image, relocation + 12), kRelocationAddress);
  EXPECT_EQ(image.size(), 0xA00u);
}

TEST(ResourceSection, StoringIsRefusedForLayoutsItCannotMoveSafely) {
  struct Case {
    const char* what;
    void (*damage)(ByteVector*);
    const char* error;
  } cases[] = {
      {"certificate table", [](ByteVector* b) { Put32(b, kDirectories + 8 * 4, 0xA00); Put32(b, kDirectories + 8 * 4 + 4, 8); },
       "certificate table"},
      {"data after the last section", [](ByteVector* b) { b->push_back(0); }, "data follows its last section"},
      {"another section after .rsrc", [](ByteVector* b) { (*b)[kSections + 80 + 1] = 'X'; }, "other than .reloc"},
      {"a directory into .reloc", [](ByteVector* b) { Put32(b, kDirectories + 8 * 6, kRelocationAddress); }, "moves"},
      {"no resource directory", [](ByteVector* b) { Put32(b, kDirectories + 8 * 2, 0); }, "no resource section"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteVector image = SmallImage();
    c.damage(&image);
    const ByteVector before = image;
    ResourceSection section;
    std::string error;
    section.Put(ResourceKey::Id(kResourceVersion), ResourceKey::Id(1), Fill(10, 1));
    EXPECT_FALSE(section.Store(&image, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(image, before);
  }
}

TEST(ResourceSection, DamagedTreesAreRefusedOnLoad) {
  ByteVector image = SmallImage();
  ResourceSection section;
  std::string error;
  section.Put(ResourceKey::Id(kResourceVersion), ResourceKey::Id(1), Fill(10, 1));
  ASSERT_TRUE(section.Store(&image, &error)) << error;
  // The one data entry follows the three 24-byte directories.
  const size_t dataEntry = 0x600 + 3 * 24;
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"data outside the section", dataEntry + 4, 0x10000},
      {"a language level that points to a directory", 0x600 + 2 * 24 + 20, 0x80000000u},
      {"a directory outside the section", 0x600 + 20, 0x80001000u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteVector damaged = image;
    Put32(&damaged, c.at, c.value);
    EXPECT_FALSE(section.Load(damaged, &error));
    EXPECT_NE(error.find("damaged resource tree"), std::string::npos) << error;
  }
}

TEST(ResourceSection, DirectoriesSharedByManyEntriesAreWalkedOnlySoFar) {
  ByteVector image = SmallImage();
  ResourceSection section;
  std::string error;
  section.Put(ResourceKey::Id(kResourceVersion), ResourceKey::Id(1), Fill(6000, 1));
  ASSERT_TRUE(section.Store(&image, &error)) << error;
  // 300 types, all one directory of 300 names, all one empty directory: 90,000 entries to walk for
  // a tree of none, and far more in a section of the same size with 4,000 of each.
  const size_t start = 0x600, types = start, names = types + 16 + 8 * 300, languages = names + 16 + 8 * 300;
  std::fill(image.begin() + start, image.begin() + languages + 16, 0);
  for (size_t i = 0; i < 300; ++i) {
    Put32(&image, types + 16 + 8 * i, static_cast<uint32_t>(i + 1));
    Put32(&image, types + 20 + 8 * i, 0x80000000u | static_cast<uint32_t>(names - start));
    Put32(&image, names + 16 + 8 * i, static_cast<uint32_t>(i + 1));
    Put32(&image, names + 20 + 8 * i, 0x80000000u | static_cast<uint32_t>(languages - start));
  }
  image[types + 14] = 300 & 0xFF, image[types + 15] = 300 >> 8;
  image[names + 14] = 300 & 0xFF, image[names + 15] = 300 >> 8;
  EXPECT_FALSE(section.Load(image, &error));
  EXPECT_NE(error.find("too many entries"), std::string::npos) << error;
}

}  // namespace
}  // namespace sfx
