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

struct PrefixBlockInputs::State {
  CryptoPP::SHA256 inputs;
};

PrefixBlockInputs::PrefixBlockInputs() : state_(new State) {}

PrefixBlockInputs::~PrefixBlockInputs() { delete state_; }

void PrefixBlockInputs::Begin(const ByteVector& stub, uint64_t mainProgramSize) {
  AddField(state_->inputs, std::string("sfxpack prefix block inputs"));
  AddField(state_->inputs, stub);
  AddNumber(state_->inputs, mainProgramSize);  // the main program's field: its length, then its bytes
}

void PrefixBlockInputs::EndMainProgram(const std::string& commandTemplate, size_t fileCount,
                                       const ByteVector& commandChunks) {
  AddField(state_->inputs, commandTemplate);
  AddNumber(state_->inputs, fileCount);
  if (!commandChunks.empty()) {
    AddField(state_->inputs, std::string("directory chunks"));
    AddField(state_->inputs, commandChunks);
  }
}

void PrefixBlockInputs::AddFile(const std::string& name, uint64_t size) {
  AddField(state_->inputs, name);
  AddNumber(state_->inputs, size);
}

void PrefixBlockInputs::AddBytes(const uint8_t* bytes, size_t length) {
  if (length != 0) state_->inputs.Update(bytes, length);
}

void PrefixBlockInputs::EndFile(uint32_t time) { AddNumber(state_->inputs, time); }

bool PrefixBlockInputs::Finish(const SigningKey& signer, ByteVector* block, std::string* error) {
  std::string pem;
  if (signer.WritePrivatePem(&pem, error) != kOk) return false;
  uint8_t key[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256 keyHash;
  AddField(keyHash, std::string("sfxpack prefix block key"));
  AddField(keyHash, pem);
  keyHash.Final(key);

  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  state_->inputs.Final(digest);
  CryptoPP::HMAC<CryptoPP::SHA256> mac(key, sizeof key);
  block->assign(kPrefixBlockSize, 0);
  mac.CalculateDigest(block->data(), digest, sizeof digest);
  return true;
}

bool MakePrefixBlock(const SigningKey& signer, const PackageSpec& spec, ByteVector* block,
                     std::string* error) {
  PrefixBlockInputs inputs;
  inputs.Begin(spec.stub, spec.mainProgram.size());
  inputs.AddBytes(spec.mainProgram.data(), spec.mainProgram.size());
  inputs.EndMainProgram(spec.commandTemplate, spec.files.size(), spec.commandChunks);
  for (const PackageFile& file : spec.files) {
    inputs.AddFile(file.name, file.bytes.size());
    inputs.AddBytes(file.bytes.data(), file.bytes.size());
    inputs.EndFile(file.time);
  }
  return inputs.Finish(signer, block, error);
}

}  // namespace sfx
