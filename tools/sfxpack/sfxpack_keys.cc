#include "tools/sfxpack/sfxpack_keys.h"

#include <cstring>

#include "sfxstub/verify/key_block.h"
#include "tools/sfxpack/signing/signature_records.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/signing/encrypted_private_key.h"

namespace sfx {
namespace {

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  ByteVector bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  text->assign(bytes.begin(), bytes.end());
  return true;
}

bool WriteText(const std::string& path, const std::string& text, std::string* error,
               FileAccess access = FileAccess::kShared) {
  return WriteWholeFile(path, ByteVector(text.begin(), text.end()), error, access);
}

}  // namespace

bool SameKey(const DsaPublicKey& a, const DsaPublicKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool GenerateKeyFiles(const std::string& privatePath, const std::string& publicPath, const std::string& passphrase,
                      std::string* error) {
  SigningKey key;
  std::string privatePem, publicPem;
  if (SigningKey::Generate(&key, error) != kOk || key.WritePrivatePem(&privatePem, error) != kOk ||
      key.WritePublicPem(&publicPem, error) != kOk ||
      (!passphrase.empty() &&
       EncryptedPrivateKey::Encrypt(privatePem, passphrase, kDefaultPbkdf2Iterations, &privatePem, error) != kOk)) {
    *error = "keygen: " + *error;
    return false;
  }
  // Owner-only from the moment the file exists, not after it has been written and renamed.
  if (!WriteText(privatePath, privatePem, error, FileAccess::kOwnerOnly)) return false;
  return WriteText(publicPath, publicPem, error);
}

bool LoadSigningKey(const std::string& path, SigningKey* key, std::string* error) {
  std::string pem;
  if (!ReadText(path, &pem, error)) return false;
  if (SigningKey::FromPrivatePem(pem, key, error) != kOk) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool LoadPublicKeyFile(const std::string& path, DsaPublicKey* key, std::string* error) {
  std::string pem;
  if (!ReadText(path, &pem, error)) return false;
  if (ReadPublicKeyPem(pem, key, error) != kOk) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool ReadStubKey(const ByteVector& image, DsaPublicKey* key, std::string* error) {
  if (ReadStampedKey(image, key, error) != kOk) return false;
  if (IsZeroKey(*key)) {
    *error = "no key was ever stamped into the stub";
    return false;
  }
  return true;
}

bool StampStubKey(ByteVector* stub, const DsaPublicKey& key, std::string* error) {
  return StampKey(stub, key, error) == kOk;
}

bool PrepareStubKey(ByteVector* stub, const SigningKey& signer, bool restamp, std::string* error) {
  DsaPublicKey stamped;
  if (ReadStampedKey(*stub, &stamped, error) != kOk) return false;
  DsaPublicKey wanted = signer.PublicKey();
  if (SameKey(stamped, wanted)) return true;
  if (!IsZeroKey(stamped) && !restamp) {
    *error = "the stub already holds another public key (give --restamp to replace it)";
    return false;
  }
  return StampKey(stub, wanted, error) == kOk;
}

bool AppendRecord(ByteVector* bytes, uint32_t kind, const SigningKey& signer, std::string* error) {
  std::string reason;
  ResultCode result = SignPackage(signer, static_cast<SignatureKind>(kind), bytes, &reason);
  if (result == kOk) return true;
  *error = result == kErrorFileTooLarge ? "the package would reach 2 GiB, which the stub cannot read"
                                        : "cannot sign: " + reason;
  return false;
}

}  // namespace sfx
