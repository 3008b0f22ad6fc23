// The tool's view of keys: key files, the key block in a stub, and signature records. Errors are one
// line naming the file and the reason.
#ifndef SFXSTUB_TOOLS_SFXPACK_SFXPACK_KEYS_H_
#define SFXSTUB_TOOLS_SFXPACK_SFXPACK_KEYS_H_

#include <string>

#include "sfxstub/verify/dsa_public_key.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {

// With a passphrase, the private key is written encrypted (PKCS#8 PBES2, as OpenSSL writes it).
bool GenerateKeyFiles(const std::string& privatePath, const std::string& publicPath, const std::string& passphrase,
                      std::string* error);
bool LoadSigningKey(const std::string& path, SigningKey* key, std::string* error);
bool LoadPublicKeyFile(const std::string& path, DsaPublicKey* key, std::string* error);
bool SameKey(const DsaPublicKey& a, const DsaPublicKey& b);

// The key stamped in a stub or at the start of a package file; fails when there is no key block or
// it was never stamped.
bool ReadStubKey(const ByteVector& image, DsaPublicKey* key, std::string* error);
// Writes key into the stub's key block; fails when the stub has none.
bool StampStubKey(ByteVector* stub, const DsaPublicKey& key, std::string* error);
// Makes the stub carry signer's public key: stamps an empty block, accepts the same key, and
// replaces another key only when restamp is set.
bool PrepareStubKey(ByteVector* stub, const SigningKey& signer, bool restamp, std::string* error);
// Signs every byte of bytes and appends the record of the given kind.
bool AppendRecord(ByteVector* bytes, uint32_t kind, const SigningKey& signer, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SFXPACK_KEYS_H_
