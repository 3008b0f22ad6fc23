#include "tools/sfxpack/prefix_block.h"

#include <cryptopp/hmac.h>
#include <cryptopp/sha.h>

namespace sfx {
namespace {

// Numbers enter as 8 bytes, little-endian; every field with its length first, so that no two
// different inputs hash alike.
void AddNumber(CryptoPP::SHA256& hash, uint64_t value) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  hash.Update(bytes, sizeof bytes);
}

void AddField(CryptoPP::SHA256& hash, const uint8_t* data, size_t size) {
  AddNumber(hash, size);
  if (size != 0) hash.Update(data, size);
}

void AddField(CryptoPP::SHA256& hash, const std::string& text) {
  AddField(hash, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void AddField(CryptoPP::SHA256& hash, const ByteVector& bytes) { AddField(hash, bytes.data(), bytes.size()); }

}  // namespace

bool MakePrefixBlock(const SigningKey& signer, const PackageSpec& spec, ByteVector* block,
                     std::string* error) {
  std::string pem;
  if (signer.WritePrivatePem(&pem, error) != kOk) return false;
  uint8_t key[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256 keyHash;
  AddField(keyHash, std::string("sfxpack prefix block key"));
  AddField(keyHash, pem);
  keyHash.Final(key);

  CryptoPP::SHA256 inputs;
  AddField(inputs, std::string("sfxpack prefix block inputs"));
  AddField(inputs, spec.stub);
  AddField(inputs, spec.mainProgram);
  AddField(inputs, spec.commandTemplate);
  AddNumber(inputs, spec.files.size());
  for (const PackageFile& file : spec.files) {
    AddField(inputs, file.name);
    AddField(inputs, file.bytes);
    AddNumber(inputs, file.time);
  }
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  inputs.Final(digest);

  CryptoPP::HMAC<CryptoPP::SHA256> mac(key, sizeof key);
  block->assign(kPrefixBlockSize, 0);
  mac.CalculateDigest(block->data(), digest, sizeof digest);
  return true;
}

}  // namespace sfx
