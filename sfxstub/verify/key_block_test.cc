#include "sfxstub/verify/key_block.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <string>
#include <vector>

#include "sfxstub/verify/dsa_signature.h"
#include "sfxstub/verify/signed_file.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

using test::Hex;

bool FromHex(const char* text, uint8_t* out, size_t size) {
  if (std::strlen(text) < 2 * size) return false;
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(std::stoul(std::string(text + 2 * i, 2), nullptr, 16));
  return true;
}

#if !defined(_WIN32)
// Started with SFX_KEY_PROBE="<32 hex digest><80 hex signature>", this program only reports what
// its own built-in key says about that signature, then ends before any test runs. The tests below
// start stamped copies of this program this way.
const bool kProbe = [] {
  const char* probe = std::getenv("SFX_KEY_PROBE");
  if (probe == nullptr) return false;
  uint8_t digest[16], signature[40];
  if (!FromHex(probe, digest, 16) || !FromHex(probe + 32, signature, 40)) std::_Exit(2);
  std::printf("%08X %s\n", static_cast<unsigned>(VerifyDsaSignature(digest, signature, 40)),
              Hex(BuiltInPublicKey().q, sizeof BuiltInPublicKey().q).c_str());
  std::fflush(stdout);
  std::_Exit(0);
}();
#endif

std::string OwnExecutable() {
#if defined(_WIN32)
  return _pgmptr ? _pgmptr : "";
#else
  return std::filesystem::read_symlink("/proc/self/exe").string();
#endif
}

Bytes Marker() {
  Bytes marker(kKeyBlockMarkerSize);
  KeyBlockMarker(marker.data());
  return marker;
}

// Noise, an unstamped block, more noise.
Bytes ImageWithBlockAt(size_t offset, size_t after) {
  Bytes image = test::NoiseBytes(offset, 1);
  Bytes marker = Marker();
  image.insert(image.end(), marker.begin(), marker.end());
  image.insert(image.end(), sizeof(DsaPublicKey), 0);
  Bytes tail = test::NoiseBytes(after, 2);
  image.insert(image.end(), tail.begin(), tail.end());
  return image;
}

bool SameKey(const DsaPublicKey& a, const DsaPublicKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(KeyBlock, MarkerIsTheDocumentedText) {
  // Spelt in two halves: the whole marker must occur in this program's image only once.
  const std::string documented = std::string("JUXsetup") + "DSAKey01";
  Bytes marker = Marker();
  EXPECT_EQ(std::string(marker.begin(), marker.end()), documented);
}

TEST(KeyBlock, StampingWritesTheKeyAndNothingElse) {
  const Bytes image = ImageWithBlockAt(1000, 500);
  Bytes stamped = image;
  std::string error;
  ASSERT_EQ(StampKey(&stamped, test::TestPublicKey(), &error), kOk) << error;
  ASSERT_EQ(stamped.size(), image.size());
  const size_t keyStart = 1000 + kKeyBlockMarkerSize;
  for (size_t i = 0; i < image.size(); ++i) {
    if (i < keyStart || i >= keyStart + sizeof(DsaPublicKey)) {
      ASSERT_EQ(stamped[i], image[i]) << i;
    }
  }
  EXPECT_EQ(0, std::memcmp(stamped.data() + keyStart, &test::TestPublicKey(), sizeof(DsaPublicKey)));

  DsaPublicKey read{};
  ASSERT_EQ(ReadStampedKey(stamped, &read, &error), kOk);
  EXPECT_TRUE(SameKey(read, test::TestPublicKey()));
  ASSERT_EQ(ReadStampedKey(image, &read, &error), kOk);
  EXPECT_TRUE(IsZeroKey(read));

  ASSERT_EQ(StampKey(&stamped, test::OtherPublicKey(), &error), kOk);
  ASSERT_EQ(ReadStampedKey(stamped, &read, &error), kOk);
  EXPECT_TRUE(SameKey(read, test::OtherPublicKey()));
}

TEST(KeyBlock, NeedsExactlyOneWholeBlock) {
  Bytes twice = ImageWithBlockAt(100, 10);
  Bytes second = ImageWithBlockAt(50, 0);
  twice.insert(twice.end(), second.begin(), second.end());
  Bytes cutShort = ImageWithBlockAt(100, 0);
  cutShort.pop_back();
  struct Case {
    const char* name;
    Bytes image;
  } cases[] = {{"no block", test::NoiseBytes(2000, 3)}, {"two blocks", twice}, {"cut short", cutShort},
               {"empty", Bytes()}};
  for (Case& c : cases) {
    const Bytes before = c.image;
    std::string error;
    size_t offset = 12345;
    EXPECT_EQ(FindKeyBlock(c.image, &offset, &error), kErrorFileInvalid) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_EQ(offset, 12345u) << c.name;
    EXPECT_EQ(StampKey(&c.image, test::TestPublicKey(), &error), kErrorFileInvalid) << c.name;
    EXPECT_EQ(c.image, before) << c.name;
  }
  size_t offset = 0;
  EXPECT_EQ(FindKeyBlock(ImageWithBlockAt(0, 0), &offset, nullptr), kOk);
  EXPECT_EQ(offset, 0u);
}

// A minimal PE file: headers, then sections of the given raw sizes one after another from 0x200,
// the first holding an unstamped key block; then whatever follows the image.
Bytes PeWithBlock(std::vector<uint32_t> sectionSizes, const Bytes& appended) {
  constexpr size_t kHeader = 0x80;
  constexpr size_t kFirstSection = 0x200;
  Bytes file = test::NoiseBytes(kFirstSection, 4);
  file[0] = 'M';
  file[1] = 'Z';
  auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(0x3C, kHeader, 4);
  std::memcpy(file.data() + kHeader, "PE\0\0", 4);
  put(kHeader + 6, static_cast<uint32_t>(sectionSizes.size()), 2);
  put(kHeader + 20, 0xE0, 2);  // a PE32 optional header
  uint32_t offset = kFirstSection;
  for (size_t i = 0; i < sectionSizes.size(); ++i) {
    const size_t section = kHeader + 24 + 0xE0 + 40 * i;
    put(section + 16, sectionSizes[i], 4);
    put(section + 20, offset, 4);
    offset += sectionSizes[i];
  }
  Bytes block = ImageWithBlockAt(64, sectionSizes[0] - 64 - kKeyBlockSize);
  file.insert(file.end(), block.begin(), block.end());
  for (size_t i = 1; i < sectionSizes.size(); ++i) {
    Bytes more = test::NoiseBytes(sectionSizes[i], 5);
    file.insert(file.end(), more.begin(), more.end());
  }
  file.insert(file.end(), appended.begin(), appended.end());
  return file;
}

// The package after the stub may carry a stub of its own, key block and all, as a listed file; only
// the image's own block counts. Without a PE image the whole file is searched.
TEST(KeyBlock, OnlyTheExecutableImageIsSearched) {
  const Bytes otherStub = ImageWithBlockAt(300, 300);
  struct Case {
    const char* name;
    Bytes file;
    ResultCode result;
  };
  const Case cases[] = {
      {"package carrying a stub", PeWithBlock({1024, 4096}, otherStub), kOk},
      {"image alone", PeWithBlock({1024}, Bytes()), kOk},
      {"no PE image: the whole file", [&] {
         Bytes twice = ImageWithBlockAt(100, 10);
         twice.insert(twice.end(), otherStub.begin(), otherStub.end());
         return twice;
       }(), kErrorFileInvalid},
  };
  for (const Case& c : cases) {
    size_t offset = 0;
    std::string error;
    EXPECT_EQ(FindKeyBlock(c.file, &offset, &error), c.result) << c.name << ": " << error;
    if (c.result == kOk) {
      EXPECT_EQ(offset, 0x200u + 64) << c.name;
    }
  }
  // The image ends where its last section does, wherever the sections lie.
  EXPECT_EQ(PeImageEnd(PeWithBlock({1024, 4096}, otherStub)), 0x200u + 1024 + 4096);
  Bytes cutHeaders = PeWithBlock({1024}, otherStub);
  cutHeaders.resize(0x100);
  EXPECT_EQ(PeImageEnd(cutHeaders), 0x100u) << "a section table past the end: searched whole";

  Bytes stamped = PeWithBlock({1024, 4096}, otherStub);
  std::string error;
  ASSERT_EQ(StampKey(&stamped, test::TestPublicKey(), &error), kOk) << error;
  EXPECT_TRUE(std::equal(otherStub.begin(), otherStub.end(), stamped.end() - otherStub.size()))
      << "the carried stub's block is not touched";
}

TEST(KeyBlock, OnlyTheAllZeroKeyIsZero) {
  DsaPublicKey key{};
  EXPECT_TRUE(IsZeroKey(key));
  key.y[127] = 1;
  EXPECT_FALSE(IsZeroKey(key));
  EXPECT_FALSE(IsZeroKey(test::TestPublicKey()));
}

// The block must survive compiling and linking whole: one marker in the program, an all-zero key.
TEST(KeyBlock, ThisProgramCarriesOneUnstampedBlock) {
  const Bytes image = test::ReadFileBytes(OwnExecutable());
  ASSERT_GT(image.size(), kKeyBlockSize);
  DsaPublicKey stamped{};
  std::string error;
  ASSERT_EQ(ReadStampedKey(image, &stamped, &error), kOk) << error;
  EXPECT_TRUE(IsZeroKey(stamped));
  EXPECT_TRUE(IsZeroKey(BuiltInPublicKey()));
}

#if !defined(_WIN32)
// What a copy of this program, stamped with key (or left as built), says about a signature that the
// test key made.
std::string Probe(const test::ScratchDir& dir, const DsaPublicKey* key) {
  Bytes image = test::ReadFileBytes(OwnExecutable());
  std::string error;
  if (key != nullptr) {
    EXPECT_EQ(StampKey(&image, *key, &error), kOk) << error;
  }
  const std::string copy = dir.File(key ? "stamped" : "unstamped");
  test::WriteFileBytes(copy, image);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);

  uint8_t digest[16], signature[40];
  BufferDigest(reinterpret_cast<const uint8_t*>("probe"), 5, digest);
  EXPECT_EQ(test::TestSigningKey().SignDigest(digest, signature, &error), kOk);
  const std::string command =
      "SFX_KEY_PROBE=" + Hex(digest, 16) + Hex(signature, 40) + " '" + copy + "'";
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    EXPECT_EQ(pclose(pipe), 0);
  }
  return output;
}

TEST(KeyBlock, AStampedProgramVerifiesWithItsStampedKey) {
  test::ScratchDir dir;
  const std::string q = Hex(test::TestPublicKey().q, 20);
  EXPECT_EQ(Probe(dir, &test::TestPublicKey()), "00000000 " + q + "\n");
  EXPECT_EQ(Probe(dir, nullptr), "2000000B " + std::string(40, '0') + "\n");
  EXPECT_EQ(Probe(dir, &test::OtherPublicKey()), "2000000B " + Hex(test::OtherPublicKey().q, 20) + "\n");
}
#endif

}  // namespace
}  // namespace sfx
