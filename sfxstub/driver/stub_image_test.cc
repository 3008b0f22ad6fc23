// The shipped stubs' PE headers: a GUI program the loader may move (ASLR, with relocations to do it)
// whose data is never executable (DEP), stripped of symbols, and importing from system DLLs only;
// the shipped stub's size, which every package carries; and what the stubs link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sfxstub/archive/stub_features.h"
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
constexpr int kImportDirectory = 1;
constexpr int kBaseRelocationDirectory = 5;
constexpr int kDelayImportDirectory = 13;
constexpr size_t kImportDescriptorSize = 20;
constexpr size_t kImportNameField = 12;
constexpr size_t kDelayDescriptorSize = 32;
constexpr size_t kDelayNameField = 4;

// What a downloaded installer may import, so that the loader never takes a DLL from the folder it
// was started in: the known DLLs, which are always mapped from System32; comctl32, which the manifest
// sends to the side-by-side store; and the API sets, which are no files at all.
constexpr const char* kSystemDlls[] = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll",
                                       "msvcrt.dll",   "ole32.dll",    "shell32.dll", "user32.dll"};
constexpr char kApiSetPrefix[] = "api-ms-win-";

// Every package carries the stub, so every download pays for its bytes.
constexpr size_t kShippedStubBudget = 256 * 1024;

// Runtime archive members that only code which throws brings in: the unwinder, the exception code,
// and the standard strings and the functions that throw their errors (about 125 KB together). A link
// map names every member the link loaded.
constexpr const char* kThrowingRuntime[] = {"libgcc_eh.a(", "libstdc++.a(eh_", "libstdc++.a(functexcept.o)",
                                            "string-inst.o)", "libstdc++.a(new_op.o)"};

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}

struct Section {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
};

struct PeImage {
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint32_t symbolCount = 0;
  bool pe32Plus = false;
  uint16_t subsystem = 0;
  uint16_t dllCharacteristics = 0;
  uint32_t relocationDirectorySize = 0;
  uint32_t importDirectory = 0;       // RVA
  uint32_t delayImportDirectory = 0;  // RVA
  std::vector<Section> sections;
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
  image->importDirectory = U32(b, directories + 8 * kImportDirectory);
  image->delayImportDirectory = U32(b, directories + 8 * kDelayImportDirectory);
  size_t sections = optional + optionalSize;
  for (uint16_t i = 0; i < sectionCount && sections + 40 * (i + 1) <= b.size(); ++i) {
    size_t at = sections + 40 * i;
    const char* name = reinterpret_cast<const char*>(&b[at]);
    image->sections.push_back(
        Section{std::string(name, strnlen(name, 8)), U32(b, at + 12), U32(b, at + 8), U32(b, at + 16), U32(b, at + 20)});
  }
  return true;
}

// The file offset of an address in the loaded image, or 0 when no section's data holds it.
size_t FileOffset(const PeImage& image, uint32_t rva) {
  for (const Section& section : image.sections) {
    uint32_t size = std::max(section.virtualSize, section.rawSize);
    if (rva >= section.virtualAddress && rva - section.virtualAddress < size &&
        rva - section.virtualAddress < section.rawSize) {
      return section.rawOffset + (rva - section.virtualAddress);
    }
  }
  return 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The DLL names of a table of descriptors (the import or the delay-import table), lower case; the
// table ends with a descriptor whose name is 0. Fails the test on names outside the file.
std::vector<std::string> ImportedDlls(const std::vector<uint8_t>& b, const PeImage& image, uint32_t tableRva,
                                      size_t descriptorSize, size_t nameField) {
  std::vector<std::string> dlls;
  if (tableRva == 0) return dlls;
  size_t at = FileOffset(image, tableRva);
  EXPECT_NE(at, 0u) << "import table outside every section";
  for (; at != 0 && at + descriptorSize <= b.size(); at += descriptorSize) {
    uint32_t nameRva = U32(b, at + nameField);
    if (nameRva == 0) break;
    size_t name = FileOffset(image, nameRva);
    size_t end = name;
    while (name != 0 && end < b.size() && b[end] != 0) ++end;
    EXPECT_TRUE(name != 0 && end < b.size()) << "import name outside the file";
    if (name == 0 || end >= b.size()) break;
    dlls.push_back(Lower(std::string(b.begin() + name, b.begin() + end)));
  }
  return dlls;
}

bool IsSystemDll(const std::string& dll) {
  if (dll.compare(0, sizeof kApiSetPrefix - 1, kApiSetPrefix) == 0) return true;
  return std::find(std::begin(kSystemDlls), std::end(kSystemDlls), dll) != std::end(kSystemDlls);
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
  for (const auto& section : image.sections) hasRelocSection |= section.name == ".reloc";
  EXPECT_TRUE(hasRelocSection) << path;
  EXPECT_EQ(image.symbolCount, 0u) << path << ": not stripped";

  std::vector<std::string> imports =
      ImportedDlls(bytes, image, image.importDirectory, kImportDescriptorSize, kImportNameField);
  std::vector<std::string> delayed =
      ImportedDlls(bytes, image, image.delayImportDirectory, kDelayDescriptorSize, kDelayNameField);
  // The table was read: a Windows program cannot do without kernel32, nor this one without user32.
  EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end()) << path;
  EXPECT_NE(std::find(imports.begin(), imports.end(), "user32.dll"), imports.end()) << path;
  imports.insert(imports.end(), delayed.begin(), delayed.end());
  for (const std::string& dll : imports) EXPECT_TRUE(IsSystemDll(dll)) << path << " imports " << dll;
}

TEST(StubImage, Shipped32BitStub) { CheckStub("SFX_STUB32", kMachineI386, false); }

TEST(StubImage, Shipped32BitStubStaysWithinItsBudget) {
  const std::string path = StubPath("SFX_STUB32");
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  ASSERT_FALSE(bytes.empty()) << path << " is missing";
  EXPECT_LE(bytes.size(), kShippedStubBudget)
      << path << " grew past 256 KiB; `./dev bench size` shows what its bytes are";
}

TEST(StubImage, StubsLinkNoExceptionCodeNorStandardStrings) {
  for (const char* variable : {"SFX_STUB32_MAP", "SFX_STUB64_MAP"}) {
    const std::string path = StubPath(variable);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty()) << path << " is missing";
    const std::string map(bytes.begin(), bytes.end());
    ASSERT_NE(map.find("sfx_archive.cc"), std::string::npos) << path << " is not the stub's link map";
    for (const char* member : kThrowingRuntime) {
      EXPECT_EQ(map.find(member), std::string::npos) << path << " links " << member;
    }
  }
}

TEST(StubImage, TestedAndDemonstrated64BitStub) { CheckStub("SFX_STUB64", kMachineAmd64, true); }

// The packaging tool deflates listed files only for a stub that says it inflates them: a marker the
// linker dropped would silently cost every package its compression.
TEST(StubImage, StubsSayTheyInflateListedFiles) {
  for (const char* variable : {"SFX_STUB32", "SFX_STUB64"}) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(StubPath(variable));
    ASSERT_FALSE(bytes.empty()) << variable << " is missing";
    EXPECT_EQ(FindStubFeatures(bytes.data(), bytes.size()) & kStubFeatureDeflatedFiles, kStubFeatureDeflatedFiles)
        << variable;
  }
}

}  // namespace
}  // namespace sfx
