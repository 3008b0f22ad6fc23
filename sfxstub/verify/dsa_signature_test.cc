#include "sfxstub/verify/dsa_signature.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>
#include <cryptopp/dsa.h>
#include <cryptopp/modes.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

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

// A toy group modulo p = 23, where 2 has the odd prime order 11, verifies like a real one. With the
// even q = 22 the equations hold too (H = 0, r = 2, s = 13: w = 17, u2 = 12, 2^12 mod 23 mod 22 = 2),
// but an even q is no group order: nothing verifies.
TEST(VerifyDsaSignature, KeyWithAnEvenQVerifiesNothing) {
  struct Case {
    uint8_t q, r, s;
    ResultCode expected;
  } cases[] = {{11, 2, 2, kOk}, {22, 2, 13, kBadSignature}};
  const Digest zero{};
  for (const Case& c : cases) {
    DsaPublicKey key{};
    key.p[127] = 23;
    key.q[19] = c.q;
    key.g[127] = key.y[127] = 2;
    const uint8_t signature[2] = {c.r, c.s};
    EXPECT_EQ(VerifyDsaSignature(zero.data(), signature, sizeof signature, key), c.expected) << int{c.q};
  }
}

TEST(VerifyDsaSignature, TheUnstampedBuiltInKeyRejectsWhatTheTestKeyAccepts) {
  const Digest digest = DigestOf("built in");
  const Signature good = Sign(digest);
  ASSERT_EQ(Verify(digest, good), kOk);
  EXPECT_EQ(VerifyDsaSignature(digest.data(), good.data(), 40), kBadSignature);
}

// Crypto++'s DSA verification over the same inputs, the reference the stub's own check must agree
// with. Keys the check refuses before any arithmetic (q below 2 or even, a signature not twice q's
// width, p even or below 2, g or y outside (1, p)) are refused here first, by the same rules.
bool ReferenceVerify(const Digest& digest, const uint8_t* signature, size_t length, const DsaPublicKey& key) {
  using CryptoPP::Integer;
  const Integer p(key.p, sizeof key.p), q(key.q, sizeof key.q), g(key.g, sizeof key.g),
      y(key.y, sizeof key.y);
  if (q < Integer::Two() || q.IsEven() || length != 2 * q.ByteCount()) return false;
  if (p < Integer::Two() || p.IsEven() || g <= Integer::One() || g >= p || y <= Integer::One() || y >= p) {
    return false;
  }
  const size_t width = q.ByteCount();
  try {
    CryptoPP::DSA::PublicKey publicKey;
    publicKey.Initialize(p, q, g, y);
    return CryptoPP::DL_Algorithm_GDSA<Integer>().Verify(
        publicKey.GetGroupParameters(), publicKey, Integer(digest.data(), digest.size()),
        Integer(signature, width), Integer(signature + width, width));
  } catch (const CryptoPP::Exception&) {
    return false;
  }
}

// A deterministic generator for the differential test: the same cases on every run.
class CaseRandom {
 public:
  explicit CaseRandom(uint8_t seed) {
    uint8_t key[16] = {seed}, iv[16] = {};
    cipher_.SetKeyWithIV(key, sizeof key, iv);
  }
  CryptoPP::RandomNumberGenerator& rng() { return cipher_; }
  template <size_t N>
  std::array<uint8_t, N> Bytes() {
    std::array<uint8_t, N> out;
    cipher_.GenerateBlock(out.data(), N);
    return out;
  }
  uint32_t Below(uint32_t bound) { return cipher_.GenerateWord32(0, bound - 1); }

 private:
  CryptoPP::OFB_Mode<CryptoPP::AES>::Encryption cipher_;
};

std::vector<uint8_t> Field(const uint8_t* bytes, size_t size) { return std::vector<uint8_t>(bytes, bytes + size); }

// A key of the group of base with a fresh private value.
SigningKey KeyInGroup(const DsaPublicKey& base, CaseRandom& random) {
  const CryptoPP::Integer q(base.q, sizeof base.q);
  const CryptoPP::Integer x(random.rng(), CryptoPP::Integer::One(), q - 1);
  std::vector<uint8_t> xBytes(x.MinEncodedSize());
  x.Encode(xBytes.data(), xBytes.size());
  SigningKey key;
  std::string error;
  EXPECT_EQ(SigningKey::FromComponents(Field(base.p, 128), Field(base.q, 20), Field(base.g, 128), xBytes,
                                       &key, &error),
            kOk)
      << error;
  return key;
}

// Keys that hold no group, each as a variation of a sound key.
std::vector<DsaPublicKey> DegenerateKeys(const DsaPublicKey& sound) {
  std::vector<DsaPublicKey> keys;
  auto with = [&](auto change) {
    DsaPublicKey key = sound;
    change(key);
    keys.push_back(key);
  };
  auto setSmall = [](uint8_t* field, size_t size, uint8_t value) {
    std::memset(field, 0, size);
    field[size - 1] = value;
  };
  with([](DsaPublicKey& k) { k = DsaPublicKey{}; });
  with([&](DsaPublicKey& k) { setSmall(k.q, 20, 0); });
  with([&](DsaPublicKey& k) { setSmall(k.q, 20, 1); });
  with([](DsaPublicKey& k) { k.q[0] = 0; });  // q narrower than its field
  with([](DsaPublicKey& k) { k.q[19] &= 0xFE; });
  with([](DsaPublicKey& k) { k.p[127] &= 0xFE; });
  with([&](DsaPublicKey& k) { setSmall(k.p, 128, 1); });
  for (uint8_t value : {0, 1}) {
    with([&](DsaPublicKey& k) { setSmall(k.g, 128, value); });
    with([&](DsaPublicKey& k) { setSmall(k.y, 128, value); });
    with([&](DsaPublicKey& k) { setSmall(k.g, 128, value), setSmall(k.y, 128, value); });
  }
  with([](DsaPublicKey& k) { std::memcpy(k.g, k.p, 128); });
  with([](DsaPublicKey& k) { std::memcpy(k.y, k.p, 128); });
  with([](DsaPublicKey& k) { std::memset(k.y, 0xFF, 128); });
  return keys;
}

// Variations of a valid signature that must fail.
std::vector<Signature> Variations(const Signature& valid, const DsaPublicKey& key, CaseRandom& random) {
  std::vector<Signature> out;
  Signature flipped = valid;
  const uint32_t bit = random.Below(320);
  flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
  out.push_back(flipped);
  Signature swapped;
  std::copy(valid.begin() + 20, valid.end(), swapped.begin());
  std::copy(valid.begin(), valid.begin() + 20, swapped.begin() + 20);
  out.push_back(swapped);
  // r, then s, at the edges of [1, q): 0, 1, q - 1, q, q + 1, 2^160 - 1.
  const CryptoPP::Integer q(key.q, sizeof key.q);
  for (int half = 0; half < 2; ++half) {
    for (const CryptoPP::Integer& value :
         {CryptoPP::Integer::Zero(), CryptoPP::Integer::One(), q - 1, q, q + 1,
          CryptoPP::Integer::Power2(160) - 1}) {
      Signature edge = valid;
      value.Encode(edge.data() + 20 * half, 20);
      out.push_back(edge);
    }
  }
  return out;
}

// The stub's check and Crypto++'s agree on random keys, digests and signatures: valid ones, ones off
// by a bit, r and s at the edges of their range or exchanged, digests off by a bit, and keys that
// hold no group. Under Wine a smaller sample runs (the stub's build of the check is the one that
// matters there).
TEST(VerifyDsaSignature, AgreesWithCryptoPpOnRandomKeysDigestsAndSignatures) {
  CaseRandom random(16);
  std::vector<DsaPublicKey> groups{test::TestPublicKey(), test::OtherPublicKey()};
#ifdef _WIN32
  constexpr int kKeysPerGroup = 4, kDigestsPerKey = 4;
#else
  constexpr int kKeysPerGroup = 8, kDigestsPerKey = 8;
  for (int i = 0; i < 2; ++i) {  // and two groups made here
    CryptoPP::DSA::PrivateKey fresh;
    fresh.GenerateRandom(random.rng(), CryptoPP::MakeParameters(CryptoPP::Name::ModulusSize(), 1024)(
                                           CryptoPP::Name::SubgroupOrderSize(), 160));
    const auto& params = fresh.GetGroupParameters();
    DsaPublicKey group{};
    params.GetModulus().Encode(group.p, 128);
    params.GetSubgroupOrder().Encode(group.q, 20);
    params.GetGenerator().Encode(group.g, 128);
    groups.push_back(group);
  }
#endif
  int checked = 0, accepted = 0, valid = 0;
  auto check = [&](const Digest& digest, const Signature& signature, const DsaPublicKey& key) {
    const bool ours = VerifyDsaSignature(digest.data(), signature.data(), 40, key) == kOk;
    const bool reference = ReferenceVerify(digest, signature.data(), 40, key);
    EXPECT_EQ(ours, reference) << "digest " << test::Hex(digest.data(), 16) << " signature "
                               << test::Hex(signature.data(), 40) << " p " << test::Hex(key.p, 128)
                               << " q " << test::Hex(key.q, 20) << " g " << test::Hex(key.g, 128)
                               << " y " << test::Hex(key.y, 128);
    ++checked;
    accepted += ours ? 1 : 0;
    return ours;
  };
  Signature one{};  // r = s = 1: with g = y = 1 every v is 1
  one[19] = one[39] = 1;
  for (const DsaPublicKey& group : groups) {
    for (int k = 0; k < kKeysPerGroup; ++k) {
      const SigningKey signer = KeyInGroup(group, random);
      const DsaPublicKey key = signer.PublicKey();
      for (int d = 0; d < kDigestsPerKey; ++d) {
        const Digest digest = d == 0 ? Digest{} : random.Bytes<16>();
        const Signature signature = Sign(digest, signer);
        valid += check(digest, signature, key) ? 1 : 0;
        for (const Signature& changed : Variations(signature, key, random)) check(digest, changed, key);
        Digest changed = digest;
        const uint32_t bit = random.Below(128);
        changed[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
        check(changed, signature, key);
        for (const DsaPublicKey& degenerate : DegenerateKeys(key)) {
          check(digest, signature, degenerate);
          check(digest, one, degenerate);
        }
      }
    }
  }
  // Every valid signature verifies, and nothing else does.
  const int expectedValid = static_cast<int>(groups.size()) * kKeysPerGroup * kDigestsPerKey;
  EXPECT_EQ(valid, expectedValid);
  EXPECT_EQ(accepted, expectedValid);
  std::printf("VerifyDsaSignature against Crypto++: %d cases, %d accepted by both\n", checked, accepted);
}

}  // namespace
}  // namespace sfx
