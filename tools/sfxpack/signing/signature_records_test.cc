#include "tools/sfxpack/signing/signature_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sfxstub/verify/signed_file.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

std::string Text(const Bytes& bytes, size_t from, size_t count) {
  return std::string(bytes.begin() + from, bytes.begin() + from + count);
}

TEST(SignatureRecords, WritersLayOutEachKind) {
  uint8_t signature[40], digest[16];
  for (int i = 0; i < 40; ++i) signature[i] = static_cast<uint8_t>(0xA0 + i);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(i * 17);

  Bytes binary = {1, 2};
  AppendBinarySignature(signature, &binary);
  ASSERT_EQ(binary.size(), 2u + 48);
  EXPECT_EQ(0, std::memcmp(binary.data() + 2, signature, 40));
  EXPECT_EQ(Text(binary, 42, 8), "JUXSignd");

  Bytes text;
  AppendTextSignature(signature, &text);
  ASSERT_EQ(text.size(), 96u);
  EXPECT_EQ(Text(text, 0, 8), "JUXSignA");
  EXPECT_EQ(Text(text, 8, 6), "a0a1a2");
  EXPECT_EQ(Text(text, 8 + 78, 2), "c7");
  EXPECT_EQ(Text(text, 88, 8), "JUXSignA");

  Bytes digestRecord;
  AppendTextDigest(digest, &digestRecord);
  ASSERT_EQ(digestRecord.size(), 48u);
  EXPECT_EQ(Text(digestRecord, 0, 48), "JUX_MD5a00112233445566778899aabbccddeeffJUX_MD5a");
}

TEST(SignatureRecords, SignedPackagesVerifyAndReadBackTheirRecord) {
  test::ScratchDir dir;
  const Bytes package = test::NoiseBytes(3000, 21);
  for (SignatureKind kind : {kBinarySignature, kTextSignature, kTextDigest}) {
    Bytes file = package;
    std::string error;
    ASSERT_EQ(SignPackage(test::TestSigningKey(), kind, &file, &error), kOk) << error;
    EXPECT_TRUE(std::equal(package.begin(), package.end(), file.begin())) << "the package stays as it was";

    const std::string path = dir.File("signed");
    test::WriteFileBytes(path, file);
    uint32_t foundKind = 99, signedLength = 0;
    uint8_t value[40];
    ASSERT_EQ(FindSignatureRecord(path.c_str(), value, &foundKind, &signedLength), kOk);
    EXPECT_EQ(foundKind, static_cast<uint32_t>(kind));
    EXPECT_EQ(signedLength, package.size());
    EXPECT_EQ(VerifySignedFile(path.c_str(), 1, test::TestPublicKey()), kOk) << kind;

    uint8_t digest[16];
    ASSERT_EQ(PackageDigest(package, kind, digest), kOk);
    if (kind == kTextDigest) {
      EXPECT_EQ(0, std::memcmp(value, digest, 16));
    } else {
      uint8_t expected[40];
      ASSERT_EQ(test::TestSigningKey().SignDigest(digest, expected, &error), kOk);
      EXPECT_EQ(0, std::memcmp(value, expected, 40)) << kind;
    }
  }
}

TEST(SignatureRecords, SigningTwiceGivesTheSameBytes) {
  const Bytes package = test::NoiseBytes(500, 22);
  for (SignatureKind kind : {kBinarySignature, kTextSignature}) {
    EXPECT_EQ(test::SignedPackage(package, kind), test::SignedPackage(package, kind)) << kind;
    EXPECT_NE(test::SignedPackage(package, kind), test::SignedPackage(package, kind, test::OtherSigningKey()));
  }
}

TEST(SignatureRecords, FailuresLeaveThePackageAlone) {
  const Bytes package = test::NoiseBytes(100, 23);
  Bytes file = package;
  std::string error;
  EXPECT_EQ(SignPackage(SigningKey(), kBinarySignature, &file, &error), kErrorFileInvalid);
  EXPECT_EQ(SignPackage(SigningKey(), kTextSignature, &file, &error), kErrorFileInvalid);
  EXPECT_EQ(SignPackage(test::TestSigningKey(), static_cast<SignatureKind>(7), &file, &error),
            kErrorInvalidParameter);
  EXPECT_EQ(file, package);
  EXPECT_EQ(SignPackage(SigningKey(), kTextDigest, &file, &error), kOk) << "a digest needs no key";
  EXPECT_EQ(file.size(), package.size() + 48);
}

}  // namespace
}  // namespace sfx
