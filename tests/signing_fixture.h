// Keys and signed packages for tests: two fixed DSA keys (1024-bit p, 160-bit q, made once with
// `openssl genpkey`), so that no test waits for key generation and every run signs the same bytes.
#ifndef SFXSTUB_TESTS_SIGNING_FIXTURE_H_
#define SFXSTUB_TESTS_SIGNING_FIXTURE_H_

#include <string>

#include "sfxstub/verify/dsa_public_key.h"
#include "sfxstub/verify/signed_file.h"
#include "tests/test_support.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {
namespace test {

// The key the tests sign with, and its public half for verifying.
const std::string& TestPrivateKeyPem();
const SigningKey& TestSigningKey();
const DsaPublicKey& TestPublicKey();

// An unrelated key: what it signs must not verify with TestPublicKey().
const std::string& OtherPrivateKeyPem();
const SigningKey& OtherSigningKey();
const DsaPublicKey& OtherPublicKey();

// package followed by a record of kind over all of its bytes, signed by key (TestSigningKey() when
// not given). A failure to sign fails the calling test.
Bytes SignedPackage(const Bytes& package, SignatureKind kind);
Bytes SignedPackage(const Bytes& package, SignatureKind kind, const SigningKey& key);

// Lower-case hexadecimal, two digits a byte: readable failure messages for digests and signatures.
std::string Hex(const uint8_t* bytes, size_t size);

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_SIGNING_FIXTURE_H_
