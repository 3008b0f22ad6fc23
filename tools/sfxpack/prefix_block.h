// The block sfxpack build places right after the stub, before the first blob: 32 bytes that no
// offset refers to, HMAC-SHA-256 keyed with a hash of the private key over a hash of every input.
// The signature covers MD5 of everything before it, and packages are reproducible, so whoever
// supplies a file could otherwise prepare a chosen-prefix MD5 collision pair for it and swap the
// file under a valid signature afterwards; with this block the digest's state before any supplied
// byte is unknown to anyone without the key, and the same inputs still give the same package.
#ifndef SFXSTUB_TOOLS_SFXPACK_PREFIX_BLOCK_H_
#define SFXSTUB_TOOLS_SFXPACK_PREFIX_BLOCK_H_

#include <string>

#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {

constexpr size_t kPrefixBlockSize = 32;

// The inputs' hash, fed in the order the block takes them: Begin with the stub and the main
// program's size, the main program's bytes in any pieces through AddBytes, EndMainProgram; then for
// every listed file AddFile, its bytes through AddBytes, EndFile; then Finish.
class PrefixBlockInputs {
 public:
  PrefixBlockInputs();
  ~PrefixBlockInputs();
  PrefixBlockInputs(const PrefixBlockInputs&) = delete;
  PrefixBlockInputs& operator=(const PrefixBlockInputs&) = delete;

  void Begin(const ByteVector& stub, uint64_t mainProgramSize);
  // commandChunks enter only when there are some, so that a package built without them keeps its block.
  void EndMainProgram(const std::string& commandTemplate, size_t fileCount, const ByteVector& commandChunks = {});
  void AddFile(const std::string& name, uint64_t size);
  void AddBytes(const uint8_t* bytes, size_t length);
  void EndFile(uint32_t time);
  bool Finish(const SigningKey& signer, ByteVector* block, std::string* error);

 private:
  struct State;
  State* state_;
};

// The block for a package's inputs (its stub as it will be written, the main program, the
// template and the other directory chunks, every file's name, bytes and time) and signer. Returns false with error when the key
// cannot be encoded.
bool MakePrefixBlock(const SigningKey& signer, const PackageSpec& spec, ByteVector* block,
                     std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PREFIX_BLOCK_H_
