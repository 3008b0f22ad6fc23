#include "tools/sfxpack/signing/rfc6979.h"

#include <gtest/gtest.h>

#include <cryptopp/gfpcrypt.h>
#include <cryptopp/sha.h>

#include <string>
#include <vector>

#include "tests/signing_fixture.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {
namespace {

using CryptoPP::Integer;

std::vector<uint8_t> Unhex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

using test::Hex;

// RFC 6979, appendix A.2.1: the 1024-bit DSA key.
const char kP[] =
    "86F5CA03DCFEB225063FF830A0C769B9DD9D6153AD91D7CE27F787C43278B447E6533B86B18BED6E8A48B784A14C252C"
    "5BE0DBF60B86D6385BD2F12FB763ED8873ABFD3F5BA2E0A8C0A59082EAC056935E529DAF7C610467899C77ADEDFC846C"
    "881870B7B19B2B58F9BE0521A17002E3BDD6B86685EE90B3D9A1B02B782B1779";
const char kQ[] = "996F967F6C8E388D9E28D01E205FBA957A5698B1";
const char kG[] =
    "07B0F92546150B62514BB771E2A0C0CE387F03BDA6C56B505209FF25FD3C133D89BBCD97E904E09114D9A7DEFDEADFC9"
    "078EA544D2E401AEECC40BB9FBBF78FD87995A10A1C27CB7789B594BA7EFB5C4326A9FE59A070E136DB77175464ADCA4"
    "17BE5DCE2F40D10A46A3A3943F26AB7FD9C0398FF8C76EE0A56826A8A88F1DBD";
const char kX[] = "411602CB19A6CCC34494D79D98EF1E7ED5AF25F7";

TEST(Rfc6979, MatchesThePublishedDsaVectorWithSha256) {
  SigningKey key;
  std::string error;
  ASSERT_EQ(SigningKey::FromComponents(Unhex(kP), Unhex(kQ), Unhex(kG), Unhex(kX), &key, &error), kOk)
      << error;
  const std::string message = "sample";
  uint8_t hash[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256().CalculateDigest(hash, reinterpret_cast<const uint8_t*>(message.data()), message.size());
  uint8_t signature[40];
  ASSERT_EQ(key.SignHash(hash, sizeof hash, signature, &error), kOk) << error;
  EXPECT_EQ(Hex(signature, 20), "81f2f5850be5bc123c43f71a3033e9384611c545");
  EXPECT_EQ(Hex(signature + 20, 20), "4cdd914b65eb6c66a8aaad27299bee6b035f5e89");
}

// Crypto++ has its own RFC 6979 nonce; for the 16-byte digests the stub signs, both must agree.
TEST(Rfc6979, AgreesWithAnIndependentImplementationOnShortDigests) {
  const Integer x(Unhex(kX).data(), 20), q(Unhex(kQ).data(), 20);
  CryptoPP::DL_Algorithm_DSA_RFC6979<Integer, CryptoPP::SHA256> reference;
  std::vector<std::vector<uint8_t>> digests = {
      std::vector<uint8_t>(16, 0), std::vector<uint8_t>(16, 0xFF),
      Unhex("00000102030405060708090a0b0c0d0e"), Unhex("900150983cd24fb0d6963f7d28e17f72")};
  for (const auto& digest : digests) {
    Rfc6979Nonces nonces(x, q, digest.data(), digest.size());
    const Integer expected = reference.GenerateRandom(x, q, Integer(digest.data(), digest.size()));
    EXPECT_EQ(nonces.Next(), expected) << Hex(digest.data(), digest.size());
  }
}

TEST(Rfc6979, LaterCandidatesAreFreshAndInRange) {
  const Integer x(Unhex(kX).data(), 20), q(Unhex(kQ).data(), 20);
  const std::vector<uint8_t> digest = Unhex("900150983cd24fb0d6963f7d28e17f72");
  Rfc6979Nonces nonces(x, q, digest.data(), digest.size());
  Integer first = nonces.Next(), second = nonces.Next();
  EXPECT_NE(first, second);
  for (const Integer& k : {first, second}) {
    EXPECT_TRUE(k.IsPositive());
    EXPECT_LT(k, q);
  }
  Rfc6979Nonces again(x, q, digest.data(), digest.size());
  EXPECT_EQ(again.Next(), first);
}

}  // namespace
}  // namespace sfx
