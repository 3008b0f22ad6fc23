// The keys and signatures against OpenSSL, an independent implementation, both ways. Needs the
// openssl command, so it runs on Linux only.
#include <gtest/gtest.h>

#include <cryptopp/dsa.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sfxstub/verify/dsa_signature.h"
#include "sfxstub/verify/signed_file.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {
namespace {

using test::Bytes;

class OpenSslInterop : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "openssl runs on the Linux host only";
#else
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
#endif
  }

  // Runs an openssl command line in the scratch directory; returns its exit status.
  int OpenSsl(const std::string& arguments) {
    const std::string command = "cd '" + dir.path() + "' && openssl " + arguments + " >openssl.out 2>&1";
    return std::system(command.c_str());
  }
  std::string Output() { return Read("openssl.out"); }
  std::string Read(const std::string& name) {
    Bytes bytes = test::ReadFileBytes(dir.File(name));
    return std::string(bytes.begin(), bytes.end());
  }
  void Write(const std::string& name, const std::string& text) {
    test::WriteFileBytes(dir.File(name), Bytes(text.begin(), text.end()));
  }
  void Write(const std::string& name, const uint8_t* bytes, size_t size) {
    test::WriteFileBytes(dir.File(name), Bytes(bytes, bytes + size));
  }

  test::ScratchDir dir;
};

Bytes Digest(uint32_t seed) {
  Bytes digest = test::NoiseBytes(16, seed);
  if (seed % 3 == 0) digest[0] = digest[1] = 0;  // short as an integer: catches padding mix-ups
  return digest;
}

TEST_F(OpenSslInterop, OpenSslReadsTheKeysWeWrite) {
  SigningKey key;
  std::string error, privatePem, publicPem;
  ASSERT_EQ(SigningKey::Generate(&key, &error), kOk) << error;
  ASSERT_EQ(key.WritePrivatePem(&privatePem, &error), kOk);
  ASSERT_EQ(key.WritePublicPem(&publicPem, &error), kOk);
  Write("private.pem", privatePem);
  Write("public.pem", publicPem);

  ASSERT_EQ(OpenSsl("pkey -in private.pem -check -noout"), 0) << Output();
  ASSERT_EQ(OpenSsl("pkey -in private.pem -pubout -out derived.pem"), 0) << Output();
  EXPECT_EQ(Read("derived.pem"), publicPem) << "OpenSSL derives the very public key we wrote";
  ASSERT_EQ(OpenSsl("pkey -pubin -in public.pem -text -noout"), 0) << Output();
  EXPECT_NE(Output().find("1024 bit"), std::string::npos) << Output();
}

TEST_F(OpenSslInterop, WeReadTheKeysOpenSslMakes) {
  ASSERT_EQ(OpenSsl("genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 "
                    "-pkeyopt dsa_paramgen_q_bits:160 -out params.pem"), 0) << Output();
  ASSERT_EQ(OpenSsl("genpkey -paramfile params.pem -out private.pem"), 0) << Output();
  ASSERT_EQ(OpenSsl("pkey -in private.pem -pubout -out public.pem"), 0) << Output();

  SigningKey key;
  std::string error;
  ASSERT_EQ(SigningKey::FromPrivatePem(Read("private.pem"), &key, &error), kOk) << error;
  DsaPublicKey publicKey{};
  ASSERT_EQ(ReadPublicKeyPem(Read("public.pem"), &publicKey, &error), kOk) << error;
  const DsaPublicKey fromPrivate = key.PublicKey();
  EXPECT_EQ(0, std::memcmp(&publicKey, &fromPrivate, sizeof publicKey));
}

TEST_F(OpenSslInterop, KeysOfOtherKindsAndSizesAreRefusedWithAReason) {
  ASSERT_EQ(OpenSsl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.pem"), 0) << Output();
  ASSERT_EQ(OpenSsl("pkey -in rsa.pem -pubout -out rsa-public.pem"), 0) << Output();
  SigningKey key;
  DsaPublicKey publicKey{};
  std::string error;
  EXPECT_EQ(SigningKey::FromPrivatePem(Read("rsa.pem"), &key, &error), kErrorFileInvalid);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(ReadPublicKeyPem(Read("rsa-public.pem"), &publicKey, &error), kErrorFileInvalid);
  EXPECT_FALSE(error.empty());
}

TEST_F(OpenSslInterop, WeAcceptOpenSslSignaturesOverTheRawDigest) {
  Write("key.pem", test::TestPrivateKeyPem());
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const Bytes digest = Digest(seed);
    Write("digest.bin", digest.data(), digest.size());
    ASSERT_EQ(OpenSsl("pkeyutl -sign -inkey key.pem -in digest.bin -out signature.der"), 0) << Output();
    const Bytes der = test::ReadFileBytes(dir.File("signature.der"));
    uint8_t signature[40];
    ASSERT_EQ(CryptoPP::DSAConvertSignatureFormat(signature, sizeof signature, CryptoPP::DSA_P1363,
                                                   der.data(), der.size(), CryptoPP::DSA_DER),
              40u);
    EXPECT_EQ(VerifyDsaSignature(digest.data(), signature, 40, test::TestPublicKey()), kOk) << seed;
    Bytes other = digest;
    other[15] ^= 1;
    EXPECT_EQ(VerifyDsaSignature(other.data(), signature, 40, test::TestPublicKey()), kBadSignature);
  }
}

TEST_F(OpenSslInterop, OpenSslAcceptsOurSignaturesOverTheRawDigest) {
  std::string publicPem, error;
  ASSERT_EQ(test::TestSigningKey().WritePublicPem(&publicPem, &error), kOk);
  Write("public.pem", publicPem);
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const Bytes digest = Digest(seed);
    uint8_t signature[40];
    ASSERT_EQ(test::TestSigningKey().SignDigest(digest.data(), signature, &error), kOk);
    uint8_t der[64];
    size_t derSize = CryptoPP::DSAConvertSignatureFormat(der, sizeof der, CryptoPP::DSA_DER, signature,
                                                         40, CryptoPP::DSA_P1363);
    Write("digest.bin", digest.data(), digest.size());
    Write("signature.der", der, derSize);
    EXPECT_EQ(OpenSsl("pkeyutl -verify -pubin -inkey public.pem -in digest.bin -sigfile signature.der"), 0)
        << seed << ": " << Output();
    Bytes other = digest;
    other[15] ^= 1;
    Write("digest.bin", other.data(), other.size());
    EXPECT_NE(OpenSsl("pkeyutl -verify -pubin -inkey public.pem -in digest.bin -sigfile signature.der"), 0)
        << seed;
  }
}

}  // namespace
}  // namespace sfx
