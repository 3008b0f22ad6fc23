#include "sfxstub/verify/dsa_signature.h"

#include <gtest/gtest.h>

#include <cryptopp/sha.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "sfxstub/verify/signed_file.h"
#include "tests/signing_fixture.h"

namespace sfx {
namespace {

using Digest = std::array<uint8_t, 16>;
using Signature = std::array<uint8_t, 40>;

Digest DigestOf(const std::string& text) {
  Digest digest;
  BufferDigest(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()),
               digest.data());
  return digest;
}

Signature Sign(const Digest& digest, const SigningKey& key = test::TestSigningKey()) {
  Signature signature{};
  std::string error;
  EXPECT_EQ(key.SignDigest(digest.data(), signature.data(), &error), kOk) << error;
  return signature;
}

ResultCode Verify(const Digest& digest, const Signature& signature,
                  const DsaPublicKey& key = test::TestPublicKey()) {
  return VerifyDsaSignature(digest.data(), signature.data(), 40, key);
}

template <size_t N>
std::array<uint8_t, N> FromHex(const char* hex) {
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = static_cast<uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  return out;
}

TEST(VerifyDsaSignature, AcceptsSignaturesOverOrdinaryAndExtremeDigests) {
  Digest zero{};  // u1 is then 0
  Digest ones;
  ones.fill(0xFF);
  Digest leadingZeros = DigestOf("x");
  leadingZeros[0] = leadingZeros[1] = 0;
  for (const Digest& digest : {DigestOf("abc"), zero, ones, leadingZeros}) {
    EXPECT_EQ(Verify(digest, Sign(digest)), kOk);
  }
}

// r and s keep their leading zero bytes in their 20-byte fields (these digests were picked so that
// the test key's r, then s, is below 2^152).
TEST(VerifyDsaSignature, AcceptsSignaturesWithLeadingZeroBytes) {
  const Digest shortR = DigestOf("seed24"), shortS = DigestOf("seed310");
  const Signature withShortR = Sign(shortR), withShortS = Sign(shortS);
  ASSERT_EQ(withShortR[0], 0);
  ASSERT_EQ(withShortS[20], 0);
  EXPECT_EQ(Verify(shortR, withShortR), kOk);
  EXPECT_EQ(Verify(shortS, withShortS), kOk);
}

// A signature made by OpenSSL (`openssl pkeyutl -sign` with the test key over MD5("abc") as raw
// input): an independent signer agrees on how the digest enters as H.
TEST(VerifyDsaSignature, AcceptsASignatureMadeByOpenSsl) {
  const Digest digest = DigestOf("abc");
  const Signature signature = FromHex<40>(
      "2863A6930491C343778A421FCBE7F4D210054A08"
      "B66C4DFDB3452D69243A34D3E624D1068274BF4D");
  EXPECT_EQ(Verify(digest, signature), kOk);
  EXPECT_EQ(Verify(DigestOf("abd"), signature), kBadSignature);
}

TEST(VerifyDsaSignature, RejectsEveryChangedDigestBit) {
  const Digest digest = DigestOf("package");
  const Signature signature = Sign(digest);
  for (int bit = 0; bit < 128; ++bit) {
    Digest changed = digest;
    changed[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_EQ(Verify(changed, signature), kBadSignature) << bit;
  }
}

TEST(VerifyDsaSignature, RejectsOutOfRangeAndRearrangedSignatures) {
  const Digest digest = DigestOf("range");
  const Signature good = Sign(digest);
  const DsaPublicKey& key = test::TestPublicKey();
  auto withR = [&](const uint8_t* r) {
    Signature s = good;
    std::memcpy(s.data(), r, 20);
    return s;
  };
  auto withS = [&](const uint8_t* value) {
    Signature s = good;
    std::memcpy(s.data() + 20, value, 20);
    return s;
  };
  uint8_t zero[20] = {};
  uint8_t ones[20];
  std::fill(std::begin(ones), std::end(ones), 0xFF);
  uint8_t qPlusR[20];  // r + q as a 160-bit number, when it fits: congruent to r, still out of range
  unsigned carry = 0;
  for (int i = 19; i >= 0; --i) {
    unsigned sum = unsigned{key.q[i]} + good[i] + carry;
    qPlusR[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
  Signature swapped;
  std::copy(good.begin() + 20, good.end(), swapped.begin());
  std::copy(good.begin(), good.begin() + 20, swapped.begin() + 20);

  struct Case {
    const char* name;
    Signature signature;
  } cases[] = {
      {"r = 0", withR(zero)},           {"s = 0", withS(zero)},
      {"r = q", withR(key.q)},          {"s = q", withS(key.q)},
      {"r = 2^160 - 1", withR(ones)},   {"s = 2^160 - 1", withS(ones)},
      {"r and s exchanged", swapped},
  };
  for (const Case& c : cases) EXPECT_EQ(Verify(digest, c.signature), kBadSignature) << c.name;
  if (carry == 0) {
    EXPECT_EQ(Verify(digest, withR(qPlusR)), kBadSignature) << "r + q";
  }
  EXPECT_EQ(Verify(digest, good), kOk);
}

TEST(VerifyDsaSignature, RejectsAnyLengthButTwiceTheWidthOfQ) {
  const Digest digest = DigestOf("length");
  const Signature good = Sign(digest);
  uint8_t longer[80] = {};
  std::copy(good.begin(), good.end(), longer);
  std::copy(good.begin(), good.end(), longer + 40);
  for (uint32_t length : {0u, 20u, 38u, 39u, 41u, 42u, 80u}) {
    EXPECT_EQ(VerifyDsaSignature(digest.data(), longer, length, test::TestPublicKey()), kBadSignature)
        << length;
  }
  EXPECT_EQ(VerifyDsaSignature(digest.data(), longer, 40, test::TestPublicKey()), kOk);
}

TEST(VerifyDsaSignature, RejectsSignaturesOverOtherFormsOfTheDigest) {
  const std::string data = "the signed bytes";
  const Digest md5 = DigestOf(data);

  // Over the SHA-1 digest of the same data.
  uint8_t sha1[CryptoPP::SHA1::DIGESTSIZE];
  CryptoPP::SHA1().CalculateDigest(sha1, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  Signature overSha1{};
  std::string error;
  ASSERT_EQ(test::TestSigningKey().SignHash(sha1, sizeof sha1, overSha1.data(), &error), kOk);
  EXPECT_EQ(Verify(md5, overSha1), kBadSignature);

  // Over the MD5 digest read little-endian.
  Digest reversed = md5;
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(Verify(md5, Sign(reversed)), kBadSignature);

  // Over MD5 reduced into a 20-byte value with zero bytes after it (a truncation mix-up).
  uint8_t padded[20] = {};
  std::copy(md5.begin(), md5.end(), padded);
  Signature overPadded{};
  ASSERT_EQ(test::TestSigningKey().SignHash(padded, sizeof padded, overPadded.data(), &error), kOk);
  EXPECT_EQ(Verify(md5, overPadded), kBadSignature);
}

TEST(VerifyDsaSignature, RejectsSignaturesByAnotherKey) {
  const Digest digest = DigestOf("other");
  EXPECT_EQ(Verify(digest, Sign(digest, test::OtherSigningKey())), kBadSignature);
  EXPECT_EQ(Verify(digest, Sign(digest, test::OtherSigningKey()), test::OtherPublicKey()), kOk);
}

TEST(VerifyDsaSignature, DegenerateKeysVerifyNothing) {
  const Digest digest = DigestOf("degenerate");
  const Signature good = Sign(digest);
  DsaPublicKey zero{};
  DsaPublicKey evenP = test::TestPublicKey();
  evenP.p[127] &= 0xFE;
  DsaPublicKey qOne{};
  qOne.q[19] = 1;
  DsaPublicKey noGroup = test::TestPublicKey();
  std::memset(noGroup.g, 0, sizeof noGroup.g);
  std::memset(noGroup.y, 0, sizeof noGroup.y);
  for (const DsaPublicKey* key : {&zero, &evenP, &qOne, &noGroup}) {
    EXPECT_EQ(Verify(digest, good, *key), kBadSignature);
    EXPECT_EQ(VerifyDsaSignature(digest.data(), good.data(), 0, *key), kBadSignature);
    Signature ones;
    ones.fill(0xFF);
    EXPECT_EQ(Verify(digest, ones, *key), kBadSignature);
  }
}

TEST(VerifyDsaSignature, TheUnstampedBuiltInKeyRejectsWhatTheTestKeyAccepts) {
  const Digest digest = DigestOf("built in");
  const Signature good = Sign(digest);
  ASSERT_EQ(Verify(digest, good), kOk);
  EXPECT_EQ(VerifyDsaSignature(digest.data(), good.data(), 40), kBadSignature);
}

}  // namespace
}  // namespace sfx
