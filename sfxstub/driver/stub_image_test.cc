// The shipped stubs' PE headers: a GUI program the loader may move (ASLR, with relocations to do it)
// whose data is never executable (DEP), stripped of symbols.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace sfx {
namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr uint16_t kHighEntropyVa = 0x0020;
constexpr uint16_t kDynamicBase = 0x0040;
constexpr uint16_t kNxCompat = 0x0100;
constexpr uint16_t kSubsystemGui = 2;
constexpr int kBaseRelocationDirectory = 5;

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}

struct PeImage {
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint32_t symbolCount = 0;
  bool pe32Plus = false;
  uint16_t subsystem = 0;
  uint16_t dllCharacteristics = 0;
  uint32_t relocationDirectorySize = 0;
  std::vector<std::string> sections;
};

// Parses the headers; fails the test and returns false when they are not a PE image's.
bool ParsePe(const std::vector<uint8_t>& b, PeImage* image) {
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
  size_t pe = U32(b, 0x3C);
  if (pe + 24 > b.size() || U32(b, pe) != 0x00004550) return false;
  size_t coff = pe + 4;
  image->machine = U16(b, coff);
  uint16_t sectionCount = U16(b, coff + 2);
  image->symbolCount = U32(b, coff + 12);
  uint16_t optionalSize = U16(b, coff + 16);
  image->characteristics = U16(b, coff + 18);
  size_t optional = coff + 20;
  if (optional + optionalSize > b.size()) return false;
  uint16_t magic = U16(b, optional);
  if (magic != 0x10B && magic != 0x20B) return false;
  image->pe32Plus = magic == 0x20B;
  image->subsystem = U16(b, optional + 68);
  image->dllCharacteristics = U16(b, optional + 70);
  size_t directories = optional + (image->pe32Plus ? 112 : 96);
  image->relocationDirectorySize = U32(b, directories + 8 * kBaseRelocationDirectory + 4);
  size_t sections = optional + optionalSize;
  for (uint16_t i = 0; i < sectionCount && sections + 40 * (i + 1) <= b.size(); ++i) {
    const char* name = reinterpret_cast<const char*>(&b[sections + 40 * i]);
    image->sections.emplace_back(name, strnlen(name, 8));
  }
  return true;
}

std::string StubPath(const char* variable) {
  const char* value = std::getenv(variable);
  std::string path = value ? value : "";
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

void CheckStub(const char* variable, uint16_t machine, bool pe32Plus) {
  const std::string path = StubPath(variable);
  ASSERT_FALSE(path.empty()) << variable << " is not set";
  std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  ASSERT_FALSE(bytes.empty()) << path << " is missing (./dev build makes build/win32 and build/win64)";
  PeImage image;
  ASSERT_TRUE(ParsePe(bytes, &image)) << path << " is not a PE image";
  EXPECT_EQ(image.machine, machine) << path;
  EXPECT_EQ(image.pe32Plus, pe32Plus) << path;
  EXPECT_EQ(image.subsystem, kSubsystemGui) << path;
  EXPECT_TRUE(image.dllCharacteristics & kDynamicBase) << path << ": no ASLR";
  EXPECT_TRUE(image.dllCharacteristics & kNxCompat) << path << ": no DEP";
  if (pe32Plus) EXPECT_TRUE(image.dllCharacteristics & kHighEntropyVa) << path << ": 32-bit ASLR only";
  EXPECT_FALSE(image.characteristics & kRelocsStripped) << path << ": relocations stripped";
  EXPECT_GT(image.relocationDirectorySize, 0u) << path << ": no relocations to move the image with";
  bool hasRelocSection = false;
  for (const auto& name : image.sections) hasRelocSection |= name == ".reloc";
  EXPECT_TRUE(hasRelocSection) << path;
  EXPECT_EQ(image.symbolCount, 0u) << path << ": not stripped";
}

TEST(StubImage, Shipped32BitStub) { CheckStub("SFX_STUB32", kMachineI386, false); }

TEST(StubImage, TestedAndDemonstrated64BitStub) { CheckStub("SFX_STUB64", kMachineAmd64, true); }

}  // namespace
}  // namespace sfx
