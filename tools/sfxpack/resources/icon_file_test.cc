// The icon reader: what it accepts, and each kind of file it refuses with its own words.
#include "tools/sfxpack/resources/icon_file.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

void Add16(ByteVector* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(ByteVector* b, uint32_t v) {
  Add16(b, v & 0xFFFF);
  Add16(b, v >> 16);
}

const ByteVector kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};

ByteVector Dib() {
  ByteVector dib;
  Add32(&dib, 40);
  dib.resize(40 + 64, 0);
  return dib;
}

// An icon file of the given images: header, 16-byte entries, the images in order.
ByteVector IconOf(const std::vector<ByteVector>& images, uint32_t type = 1) {
  ByteVector file;
  Add16(&file, 0);
  Add16(&file, type);
  Add16(&file, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    file.push_back(i == 0 ? 0 : 32);  // the first one 256 pixels wide
    file.push_back(i == 0 ? 0 : 32);
    file.push_back(0);
    file.push_back(0);
    Add16(&file, 1);
    Add16(&file, 32);
    Add32(&file, static_cast<uint32_t>(images[i].size()));
    Add32(&file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const ByteVector& image : images) file.insert(file.end(), image.begin(), image.end());
  return file;
}

TEST(IconFile, EveryImageBecomesAnIconOfGroupOneNumberedFromOne) {
  ResourceSection section;
  // The group it replaces had icons 7 and 8; they go.
  ByteVector oldGroup;
  Add16(&oldGroup, 0), Add16(&oldGroup, 1), Add16(&oldGroup, 2);
  for (uint32_t id : {7, 8}) {
    oldGroup.resize(oldGroup.size() + 12, 0);
    Add16(&oldGroup, id);
    section.Put(ResourceKey::Id(kResourceIcon), ResourceKey::Id(static_cast<uint16_t>(id)), Dib());
  }
  section.Put(ResourceKey::Id(kResourceIconGroup), ResourceKey::Id(1), oldGroup);

  IconFile icon;
  std::string error;
  ASSERT_TRUE(icon.Parse(IconOf({kPng, Dib()}), &error)) << error;
  ASSERT_TRUE(icon.Apply(1, &section, &error)) << error;
  EXPECT_EQ(section.Find(ResourceKey::Id(kResourceIcon), ResourceKey::Id(1))->data, kPng);
  EXPECT_EQ(section.Find(ResourceKey::Id(kResourceIcon), ResourceKey::Id(2))->data, Dib());
  EXPECT_EQ(section.Find(ResourceKey::Id(kResourceIcon), ResourceKey::Id(7)), nullptr);
  EXPECT_EQ(IconGroupSizes(section, 1), (std::vector<std::string>{"256x256", "32x32"}));
}

TEST(IconFile, FilesThatAreNoIconsAreRefusedWithTheReason) {
  ByteVector pastEnd = IconOf({Dib()});
  pastEnd.resize(pastEnd.size() - 1);
  ByteVector offsetPastEnd = IconOf({Dib()});
  offsetPastEnd[6 + 12] = 0xFF;
  ByteVector bigImage = Dib();
  bigImage.resize(kMaxIconImageSize + 1);
  ByteVector bigFile = IconOf({Dib()});
  bigFile.resize(kMaxIconFileSize + 1);
  const ByteVector two = IconOf({Dib(), Dib()});
  struct Case {
    const char* what;
    ByteVector file;
    const char* error;
  } cases[] = {
      {"a PNG renamed", kPng, "not an icon file"},
      {"a BMP renamed", {'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0}, "not an icon file"},
      {"a cursor", IconOf({Dib()}, 2), "a cursor, not an icon"},
      {"no image", IconOf({}), "no image"},
      {"an image cut short", pastEnd, "image 1 runs past the end of the file"},
      {"an offset past the end", offsetPastEnd, "image 1 runs past the end of the file"},
      {"a directory cut short", ByteVector(two.begin(), two.begin() + 30), "directory runs past the end"},
      {"an image over 1 MiB", IconOf({kPng, bigImage}), "image 2 is over 1 MiB"},
      {"a file over 4 MiB", bigFile, "over 4 MiB"},
      {"an image of text", IconOf({ByteVector(64, 'x')}), "neither a PNG nor a bitmap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IconFile icon;
    std::string error;
    EXPECT_FALSE(icon.Parse(c.file, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(icon.images().empty());
  }
}

}  // namespace
}  // namespace sfx
