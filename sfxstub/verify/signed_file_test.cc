#include "sfxstub/verify/signed_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace {

using test::Bytes;

constexpr uint32_t kPeHeader = 0x80;
constexpr uint32_t kTableSize = 64;  // of the certificate tables below

using test::Hex;

void Append(Bytes* bytes, const Bytes& more) { bytes->insert(bytes->end(), more.begin(), more.end()); }
void Append(Bytes* bytes, const std::string& text) { bytes->insert(bytes->end(), text.begin(), text.end()); }

void PutU16(Bytes* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = static_cast<uint8_t>(value);
  (*bytes)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Printable noise: the same content means the same thing to every record kind.
Bytes PrintableNoise(size_t size, uint32_t seed) {
  Bytes bytes = test::NoiseBytes(size, seed);
  for (auto& b : bytes) b = static_cast<uint8_t>(0x20 + b % 0x60);
  return bytes;
}

// The fields of a PE header that locate the certificate table, over noise of the given size: a PE32
// header, or with pe32Plus the same fields at their PE32+ places.
struct PeFields {
  bool pe32Plus = false;
  uint16_t magic = 0;  // 0: the kind's own, 0x10B or 0x20B
  const char* dosMagic = "MZ";
  const char* signature = "PE\0\0";
  uint16_t optionalHeaderSize = 240;
  uint32_t directories = 16;
  uint32_t certificateTable = 0;
  uint32_t certificateTableSize = kTableSize;
};

Bytes PeImage(size_t size, const PeFields& fields) {
  Bytes image = test::NoiseBytes(size, 77);
  std::memcpy(image.data(), fields.dosMagic, 2);
  PutU32(&image, 0x3C, kPeHeader);
  std::memcpy(image.data() + kPeHeader, fields.signature, 4);
  PutU16(&image, kPeHeader + 20, fields.optionalHeaderSize);
  PutU16(&image, kPeHeader + 24, fields.magic ? fields.magic : fields.pe32Plus ? 0x20B : 0x10B);
  PutU32(&image, kPeHeader + (fields.pe32Plus ? 132 : 116), fields.directories);
  PutU32(&image, kPeHeader + (fields.pe32Plus ? 168 : 152), fields.certificateTable);
  PutU32(&image, kPeHeader + (fields.pe32Plus ? 172 : 156), fields.certificateTableSize);
  return image;
}

// A signed PE file whose record is followed by padding zero bytes and a certificate table that the
// header points to (set before signing, as a signer must).
Bytes SignedPeWithCertificateTable(uint32_t padding, PeFields fields = PeFields()) {
  const size_t imageSize = 600;
  fields.certificateTable = static_cast<uint32_t>(imageSize + kBinarySignatureRecordSize + padding);
  Bytes file = test::SignedPackage(PeImage(imageSize, fields), kBinarySignature);
  file.insert(file.end(), padding, 0);
  Bytes table = test::NoiseBytes(kTableSize, 5);
  table[0] = 0x40;  // a certificate table starts with its nonzero length
  Append(&file, table);
  return file;
}

class SignedFileTest : public ::testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const std::string& name = "package.exe") {
    std::string path = dir.File(name);
    test::WriteFileBytes(path, bytes);
    return path;
  }

  struct Found {
    ResultCode result = 0;
    uint32_t kind = 0xEEEE;
    uint32_t signedLength = 0xEEEE;
    uint8_t value[40];
  };
  Found Find(const Bytes& bytes) {
    Found found;
    std::memset(found.value, 0xEE, sizeof found.value);
    found.result = FindSignatureRecord(Write(bytes).c_str(), found.value, &found.kind, &found.signedLength);
    return found;
  }
  ResultCode Verify(const Bytes& bytes, int mode, const DsaPublicKey& key = test::TestPublicKey()) {
    return VerifySignedFile(Write(bytes).c_str(), mode, key);
  }

  test::ScratchDir dir;
};

TEST_F(SignedFileTest, FindsEachRecordKindAtTheEndOfTheFile) {
  const Bytes content = PrintableNoise(300, 1);
  for (SignatureKind kind : {kBinarySignature, kTextSignature, kTextDigest}) {
    Bytes file = test::SignedPackage(content, kind);
    Found found = Find(file);
    ASSERT_EQ(found.result, kOk) << kind;
    EXPECT_EQ(found.kind, static_cast<uint32_t>(kind));
    EXPECT_EQ(found.signedLength, content.size());
    if (kind == kBinarySignature) {
      EXPECT_EQ(0, std::memcmp(found.value, file.data() + content.size(), 40));
    }
    if (kind == kTextDigest) {
      uint8_t digest[16];
      ASSERT_EQ(PrintableDigest(content.data(), 300, digest), kOk);
      EXPECT_EQ(0, std::memcmp(found.value, digest, 16));
      EXPECT_EQ(found.value[16], 0xEE) << "only 16 bytes are written for a digest record";
    }
  }
}

TEST_F(SignedFileTest, BinaryRecordNeedsAFileOfFortyEightBytes) {
  Bytes short47 = test::NoiseBytes(39, 2);
  Append(&short47, std::string(kBinarySignatureMagic));
  EXPECT_EQ(Find(short47).result, kBadSignature);

  Bytes exact48 = test::NoiseBytes(40, 2);
  Append(&exact48, std::string(kBinarySignatureMagic));
  Found found = Find(exact48);
  ASSERT_EQ(found.result, kOk);
  EXPECT_EQ(found.signedLength, 0u);
}

TEST_F(SignedFileTest, ABinaryRecordMustEndTheFileOrPrecedeTheCertificateTable) {
  const Bytes file = test::SignedPackage(test::NoiseBytes(300, 2), kBinarySignature);
  for (uint8_t trailing : {0x00, 0x0A, 0x41}) {
    Bytes withTrailing = file;
    withTrailing.push_back(trailing);  // not a PE image: no certificate table to stand before
    EXPECT_EQ(Find(withTrailing).result, kBadSignature) << int{trailing};
  }
}

TEST_F(SignedFileTest, FindsARecordBeforeTheCertificateTableAfterUpToSevenZeroBytes) {
  for (bool pe32Plus : {false, true}) {
    PeFields fields;
    fields.pe32Plus = pe32Plus;
    for (uint32_t padding = 0; padding <= 8; ++padding) {
      Found found = Find(SignedPeWithCertificateTable(padding, fields));
      if (padding <= 7) {
        ASSERT_EQ(found.result, kOk) << padding << " PE32+ " << pe32Plus;
        EXPECT_EQ(found.kind, static_cast<uint32_t>(kBinarySignature));
        EXPECT_EQ(found.signedLength, 600u) << padding;
      } else {
        EXPECT_EQ(found.result, kBadSignature) << padding << " PE32+ " << pe32Plus;
      }
    }
    Bytes nonzeroPadding = SignedPeWithCertificateTable(3, fields);
    nonzeroPadding[600 + 48 + 1] = 1;
    EXPECT_EQ(Find(nonzeroPadding).result, kBadSignature) << "PE32+ " << pe32Plus;
  }
}

TEST_F(SignedFileTest, CertificateTableSearchChecksEachHeaderFieldOfBothHeaderKinds) {
  struct Case {
    const char* name;
    void (*change)(PeFields&);
    bool found;
  };
  // The smallest optional header of each kind: 96 bytes for PE32, 112 for PE32+.
  const Case cases[] = {
      {"plain", [](PeFields&) {}, true},
      {"ZM", [](PeFields& f) { f.dosMagic = "ZM"; }, true},
      {"MX", [](PeFields& f) { f.dosMagic = "MX"; }, false},
      {"PE\\0\\1", [](PeFields& f) { f.signature = "PE\0\1"; }, false},
      {"smallest optional header", [](PeFields& f) { f.optionalHeaderSize = f.pe32Plus ? 112 : 96; }, true},
      {"optional header one byte short", [](PeFields& f) { f.optionalHeaderSize = f.pe32Plus ? 111 : 95; }, false},
      {"5 directories", [](PeFields& f) { f.directories = 5; }, true},
      {"4 directories", [](PeFields& f) { f.directories = 4; }, false},
      {"the other kind's magic", [](PeFields& f) { f.magic = f.pe32Plus ? 0x10B : 0x20B; }, false},
      {"a ROM image's magic", [](PeFields& f) { f.magic = 0x107; }, false},
      {"no magic", [](PeFields& f) { f.magic = 0xFFFF; }, false},
  };
  for (bool pe32Plus : {false, true}) {
    for (const Case& c : cases) {
      PeFields fields;
      fields.pe32Plus = pe32Plus;
      c.change(fields);
      EXPECT_EQ(Find(SignedPeWithCertificateTable(2, fields)).result, c.found ? kOk : kBadSignature)
          << c.name << (pe32Plus ? " (PE32+)" : " (PE32)");
    }
  }
}

TEST_F(SignedFileTest, CertificateTableOffsetsOutsideTheFileFindNothing) {
  Bytes file = SignedPeWithCertificateTable(0);
  for (uint32_t table : {0u, 47u, 5u, static_cast<uint32_t>(file.size() + 100), 0xFFFFFFF0u}) {
    Bytes changed = file;
    PutU32(&changed, kPeHeader + 152, table);
    EXPECT_EQ(Find(changed).result, kBadSignature) << table;
  }
  // A header pointer past the end of the file.
  Bytes badHeader = file;
  PutU32(&badHeader, 0x3C, 0x7FFFFFF0u);
  EXPECT_EQ(Find(badHeader).result, kBadSignature);
}

// Bytes after the table, or a table whose size does not reach the end of the file, lie outside both
// the package's signature and the code signature: such a file has no record.
TEST_F(SignedFileTest, TheCertificateTableMustBeNonEmptyAndEndTheFile) {
  struct Case {
    const char* name;
    uint32_t declaredSize;
    size_t appended;
    bool found;
  };
  const Case cases[] = {
      {"the table ends the file", kTableSize, 0, true},
      {"one byte after the table", kTableSize, 1, false},
      {"100 KB after the table", kTableSize, 100000, false},
      {"a declared size one short of the end", kTableSize - 1, 0, false},
      {"a declared size one past the end", kTableSize + 1, 0, false},
      {"a declared size of 0", 0, 0, false},
  };
  for (bool pe32Plus : {false, true}) {
    for (const Case& c : cases) {
      PeFields fields;
      fields.pe32Plus = pe32Plus;
      fields.certificateTableSize = c.declaredSize;
      Bytes file = SignedPeWithCertificateTable(2, fields);
      Bytes tail = test::NoiseBytes(c.appended, 9);
      Append(&file, tail);
      EXPECT_EQ(Find(file).result, c.found ? kOk : kBadSignature) << c.name << (pe32Plus ? " (PE32+)" : "");
      EXPECT_EQ(Verify(file, 2), c.found ? kOk : kBadSignature) << c.name << (pe32Plus ? " (PE32+)" : "");
    }
  }
}

TEST_F(SignedFileTest, ARecordAtTheVeryEndWinsOverTheCertificateTable) {
  Bytes file = SignedPeWithCertificateTable(0);
  Bytes resigned = test::SignedPackage(file, kBinarySignature);
  Found found = Find(resigned);
  ASSERT_EQ(found.result, kOk);
  EXPECT_EQ(found.signedLength, file.size());
}

TEST_F(SignedFileTest, TextRecordsMayBeFollowedByNinetyNineBytesButNotAHundred) {
  const Bytes content = PrintableNoise(200, 3);
  for (SignatureKind kind : {kTextSignature, kTextDigest}) {
    const Bytes file = test::SignedPackage(content, kind);
    for (size_t trailing : {0u, 1u, 2u, 98u, 99u, 100u, 150u}) {
      Bytes withTrailing = file;
      for (size_t i = 0; i < trailing; ++i) withTrailing.push_back("\r\n \t"[i % 4]);
      Found found = Find(withTrailing);
      if (trailing <= 99) {
        ASSERT_EQ(found.result, kOk) << kind << " " << trailing;
        EXPECT_EQ(found.kind, static_cast<uint32_t>(kind));
        EXPECT_EQ(found.signedLength, 200u);
        EXPECT_EQ(Verify(withTrailing, 1), kOk) << kind << " " << trailing;
      } else {
        EXPECT_EQ(found.result, kBadSignature) << kind << " " << trailing;
      }
    }
  }
}

TEST_F(SignedFileTest, OnlyTheClosingMagicNearestTheEndIsTried) {
  for (SignatureKind kind : {kTextSignature, kTextDigest}) {
    const char* magic = kind == kTextSignature ? kTextSignatureMagic : kTextDigestMagic;
    Bytes file = test::SignedPackage(PrintableNoise(200, 4), kind);
    Append(&file, std::string("\r\n") + magic + "\r\n");  // a closing magic without its record
    EXPECT_EQ(Find(file).result, kBadSignature) << kind;
  }
}

TEST_F(SignedFileTest, TextRecordsNeedRoomForTheirOpeningMagic) {
  // The closing magic sits at 87 (text signature) or 39 (digest): one byte short of a record.
  for (auto [magic, at] : {std::pair<const char*, size_t>{kTextSignatureMagic, 87},
                           std::pair<const char*, size_t>{kTextDigestMagic, 39}}) {
    Bytes file(at, '0');
    std::memcpy(file.data(), magic, 8);
    Append(&file, std::string(magic));
    EXPECT_EQ(Find(file).result, kBadSignature) << magic;
  }
}

TEST_F(SignedFileTest, DecodesHexadecimalPairsTheWayTheRecordsWereAlwaysRead) {
  struct Pair {
    const char* text;
    uint8_t value;
  };
  const Pair pairs[16] = {
      {"0a", 0x0a}, {"B7", 0xb7}, {"fF", 0xff}, {" f", 0x0f}, {"\tF", 0x0f}, {"+a", 0x0a},
      {"-1", 0xff}, {"-f", 0xf1}, {"zz", 0x00}, {"f ", 0x0f}, {"0x", 0x00}, {"  ", 0x00},
      {"--", 0x00}, {"7g", 0x07}, {"+-", 0x00}, {"\r9", 0x09},
  };
  Bytes file = PrintableNoise(50, 5);
  Append(&file, std::string(kTextDigestMagic));
  for (const Pair& pair : pairs) Append(&file, std::string(pair.text, 2));
  Append(&file, std::string(kTextDigestMagic));
  Found found = Find(file);
  ASSERT_EQ(found.result, kOk);
  EXPECT_EQ(found.kind, static_cast<uint32_t>(kTextDigest));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(found.value[i], pairs[i].value) << pairs[i].text;
}

TEST_F(SignedFileTest, RecordKindsAreTriedBinaryThenTextSignatureThenDigest) {
  const Bytes content = PrintableNoise(100, 6);
  Bytes digestThenSignature = test::SignedPackage(test::SignedPackage(content, kTextDigest), kTextSignature);
  EXPECT_EQ(Find(digestThenSignature).kind, static_cast<uint32_t>(kTextSignature));
  Bytes signatureThenDigest = test::SignedPackage(test::SignedPackage(content, kTextSignature), kTextDigest);
  EXPECT_EQ(Find(signatureThenDigest).kind, static_cast<uint32_t>(kTextSignature))
      << "a text signature within reach is preferred even when a digest record ends the file";
  Bytes textThenBinary = test::SignedPackage(test::SignedPackage(content, kTextSignature), kBinarySignature);
  EXPECT_EQ(Find(textThenBinary).kind, static_cast<uint32_t>(kBinarySignature));
}

TEST_F(SignedFileTest, OutputsAreOptionalAndUntouchedOnFailure) {
  const std::string path = Write(test::SignedPackage(PrintableNoise(100, 7), kBinarySignature));
  EXPECT_EQ(FindSignatureRecord(path.c_str(), nullptr, nullptr, nullptr), kOk);
  uint32_t signedLength = 0;
  EXPECT_EQ(FindSignatureRecord(path.c_str(), nullptr, nullptr, &signedLength), kOk);
  EXPECT_EQ(signedLength, 100u);

  Found missing = Find(PrintableNoise(100, 7));
  EXPECT_EQ(missing.result, kBadSignature);
  EXPECT_EQ(missing.kind, 0xEEEEu);
  EXPECT_EQ(missing.signedLength, 0xEEEEu);
  EXPECT_EQ(missing.value[0], 0xEE);

  uint32_t kind = 0xEEEE;
  EXPECT_EQ(FindSignatureRecord(dir.File("missing").c_str(), nullptr, &kind, nullptr), kErrorFileNotFound);
  EXPECT_EQ(kind, 0xEEEEu);
  EXPECT_EQ(Find(Bytes()).result, kBadSignature);
}

TEST_F(SignedFileTest, ModesAcceptTheirRecordKinds) {
  const Bytes content = PrintableNoise(256, 8);
  struct Case {
    int mode;
    bool text, binary, digest;
  } cases[] = {
      {1, true, true, true},   {2, true, true, false}, {3, false, false, true},
      {4, true, true, true},   {-1, true, true, true}, {0x7FFFFFFF, true, true, true},
  };
  for (SignatureKind kind : {kTextSignature, kBinarySignature, kTextDigest}) {
    const Bytes file = test::SignedPackage(content, kind);
    for (const Case& c : cases) {
      bool accepted = kind == kTextSignature ? c.text : kind == kBinarySignature ? c.binary : c.digest;
      EXPECT_EQ(Verify(file, c.mode), accepted ? kOk : kBadSignature)
          << "kind " << kind << " mode " << c.mode;
    }
  }
}

TEST_F(SignedFileTest, ModeZeroLooksAtNothing) {
  EXPECT_EQ(VerifySignedFile(dir.File("missing").c_str(), 0), kOk);
  EXPECT_EQ(VerifySignedFile(dir.File("missing").c_str(), 2), kErrorFileNotFound);
  EXPECT_EQ(Verify(PrintableNoise(10, 1), 0), kOk);
  EXPECT_EQ(Verify(PrintableNoise(10, 1), 1), kBadSignature);
}

TEST_F(SignedFileTest, SignaturesByAnotherKeyOrAnUnstampedKeyFail) {
  const Bytes content = PrintableNoise(256, 9);
  for (SignatureKind kind : {kTextSignature, kBinarySignature}) {
    const Bytes file = test::SignedPackage(content, kind);
    EXPECT_EQ(Verify(file, 2), kOk) << kind;
    EXPECT_EQ(Verify(file, 2, test::OtherPublicKey()), kBadSignature) << kind;
    EXPECT_EQ(Verify(file, 2, DsaPublicKey{}), kBadSignature) << kind;
    EXPECT_EQ(VerifySignedFile(Write(file).c_str(), 2), kBadSignature) << "the built-in key is unstamped";
  }
}

TEST_F(SignedFileTest, ADigestRecordOverOtherBytesFails) {
  Bytes file = test::SignedPackage(PrintableNoise(256, 10), kTextDigest);
  file[10] = file[10] == 'a' ? 'b' : 'a';
  EXPECT_EQ(Verify(file, 3), kBadSignature);
}

// The text kinds digest the signed range's printable bytes as the file is read, in pieces of 64 KiB
// kept 256 at a time: ranges ending on either side of those boundaries verify against the record
// made over the range in one piece. The noise holds bytes of every value, so a piece digested whole
// or filtered twice would fail.
TEST_F(SignedFileTest, TextRecordsVerifyWhateverPiecesTheSignedRangeIsReadIn) {
  for (size_t size : {size_t{1}, size_t{255}, size_t{256}, size_t{257}, size_t{65535}, size_t{65536},
                      size_t{65537}, size_t{2 * 65536 + 300}}) {
    for (SignatureKind kind : {kTextDigest, kTextSignature}) {
      const Bytes file = test::SignedPackage(test::NoiseBytes(size, static_cast<uint32_t>(size)), kind);
      EXPECT_EQ(Verify(file, kind == kTextDigest ? 3 : 2), kOk) << size << " bytes, kind " << kind;
    }
  }
}

TEST_F(SignedFileTest, FlippingAnyByteOfASignedFileFailsTheCheck) {
  const Bytes file = test::SignedPackage(test::NoiseBytes(160, 11), kBinarySignature);
  ASSERT_EQ(Verify(file, 2), kOk);
  for (size_t i = 0; i < file.size(); ++i) {
    Bytes changed = file;
    changed[i] ^= static_cast<uint8_t>(1u << (i % 8));
    EXPECT_NE(Verify(changed, 2), kOk) << "byte " << i;
  }
}

TEST_F(SignedFileTest, ChangingAnyPrintableByteFailsATextSignature) {
  const Bytes file = test::SignedPackage(PrintableNoise(120, 12), kTextSignature);
  ASSERT_EQ(Verify(file, 2), kOk);
  for (size_t i = 0; i < 120; ++i) {
    Bytes changed = file;
    changed[i] = changed[i] == 0x7F ? 0x20 : changed[i] + 1;
    EXPECT_EQ(Verify(changed, 2), kBadSignature) << "byte " << i;
  }
  Bytes inserted = file;
  inserted.insert(inserted.begin() + 50, 'x');
  EXPECT_EQ(Verify(inserted, 2), kBadSignature);
  Bytes removed = file;
  removed.erase(removed.begin() + 50);
  EXPECT_EQ(Verify(removed, 2), kBadSignature);
}

TEST_F(SignedFileTest, TextKindsIgnoreBytesOutsideThePrintableRange) {
  Bytes content = PrintableNoise(200, 13);
  content[20] = '\n';
  content[21] = 0x80;
  for (SignatureKind kind : {kTextSignature, kTextDigest}) {
    Bytes file = test::SignedPackage(content, kind);
    file[20] = '\t';                  // another control character
    file[21] = 0xFF;                  // another high byte
    file.insert(file.begin() + 40, {'\r', '\n', 0x00, 0x1F, 0x90});
    EXPECT_EQ(Verify(file, 1), kOk) << kind;
  }
}

TEST_F(SignedFileTest, VerifiesARecordBeforeTheCertificateTable) {
  for (bool pe32Plus : {false, true}) {
    PeFields fields;
    fields.pe32Plus = pe32Plus;
    for (uint32_t padding : {0u, 7u}) {
      EXPECT_EQ(Verify(SignedPeWithCertificateTable(padding, fields), 2), kOk) << padding << " " << pe32Plus;
    }
  }
}

TEST_F(SignedFileTest, ARecordInsideTheSignedRangeIsOrdinaryData) {
  Bytes stub = test::SignedPackage(test::NoiseBytes(300, 14), kBinarySignature, test::OtherSigningKey());
  Append(&stub, test::NoiseBytes(200, 15));
  Bytes file = test::SignedPackage(stub, kBinarySignature);
  Found found = Find(file);
  EXPECT_EQ(found.signedLength, stub.size());
  EXPECT_EQ(Verify(file, 2), kOk);
}

TEST_F(SignedFileTest, ARecordAtOffsetZeroSignsTheEmptyRange) {
  EXPECT_EQ(Verify(test::SignedPackage(Bytes(), kBinarySignature), 2), kOk);
  EXPECT_EQ(Verify(test::SignedPackage(Bytes(), kTextSignature), 2), kOk);
}

TEST_F(SignedFileTest, FileDigestCoversTheRequestedRange) {
  // Larger than several read buffers, so ranges cross buffer boundaries at odd places.
  const Bytes content = test::NoiseBytes(200000, 16);
  const std::string path = Write(content);
  auto expected = [&](size_t start, size_t end) {
    uint8_t digest[16];
    BufferDigest(content.data() + start, static_cast<uint32_t>(end - start), digest);
    return Hex(digest, 16);
  };
  struct Case {
    int32_t start, end;
    size_t from, to;
  } cases[] = {
      {0, 0, 0, 200000},       {0, -10, 0, 199990},     {100, 5000, 100, 5000}, {2047, 4097, 2047, 4097},
      {5000, 5000, 5000, 5000}, {0, 2048, 0, 2048},     {0, -199999, 0, 1},   {65535, 131073, 65535, 131073},
      {1, 199999, 1, 199999},   {65536, 0, 65536, 200000},
  };
  for (const Case& c : cases) {
    uint8_t digest[16];
    ASSERT_EQ(FileDigest(path.c_str(), c.start, c.end, digest), kOk) << c.start << " " << c.end;
    EXPECT_EQ(Hex(digest, 16), expected(c.from, c.to)) << c.start << " " << c.end;
  }
}

TEST_F(SignedFileTest, FileDigestRefusesRangesOutsideTheFile) {
  const std::string path = Write(test::NoiseBytes(100, 17));
  for (auto [start, end] : {std::pair<int32_t, int32_t>{-1, 50}, {60, 50}, {0, 101}, {0, -101}, {101, 0}}) {
    uint8_t digest[16];
    std::memset(digest, 0xAA, 16);
    EXPECT_EQ(FileDigest(path.c_str(), start, end, digest), kDamagedPackage) << start << " " << end;
    EXPECT_EQ(Hex(digest, 16), std::string(32, '0'));
  }
  uint8_t digest[16];
  EXPECT_EQ(FileDigest(dir.File("missing").c_str(), 0, 0, digest), kErrorFileNotFound);
}

TEST(Digests, AreMd5) {
  struct Case {
    const char* text;
    const char* md5;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
  };
  for (const Case& c : cases) {
    uint8_t digest[16];
    BufferDigest(reinterpret_cast<const uint8_t*>(c.text), static_cast<uint32_t>(std::strlen(c.text)), digest);
    EXPECT_EQ(Hex(digest, 16), c.md5);
  }
}

TEST(Digests, PrintableDigestKeepsOnlyBytesFromSpaceToDel) {
  const uint8_t mixed[] = {'a', '\r', '\n', 'b', 0x00, 0x1F, ' ', 0x7F, 0x80, 0xFF, 'c', '\t'};
  const uint8_t kept[] = {'a', 'b', ' ', 0x7F, 'c'};
  uint8_t digest[16], expected[16];
  ASSERT_EQ(PrintableDigest(mixed, sizeof mixed, digest), kOk);
  BufferDigest(kept, sizeof kept, expected);
  EXPECT_EQ(Hex(digest, 16), Hex(expected, 16));

  ASSERT_EQ(PrintableDigest(mixed, 0, digest), kOk);
  BufferDigest(nullptr, 0, expected);
  EXPECT_EQ(Hex(digest, 16), Hex(expected, 16));
}

// The stream cannot address files of 2 GiB or more; they are refused, never digested in part.
TEST_F(SignedFileTest, FilesOfTwoGigabytesOrMoreAreRefused) {
  const std::string path = dir.File("huge");
  {
    Bytes tail = test::SignedPackage(Bytes(), kBinarySignature);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, 0x7FFFFFFF, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), file), tail.size());
    std::fclose(file);
  }
  uint8_t digest[16];
  EXPECT_EQ(FindSignatureRecord(path.c_str(), nullptr, nullptr, nullptr), kDamagedPackage);
  EXPECT_EQ(VerifySignedFile(path.c_str(), 2, test::TestPublicKey()), kDamagedPackage);
  EXPECT_EQ(FileDigest(path.c_str(), 0, 100, digest), kDamagedPackage);
}

}  // namespace
}  // namespace sfx
