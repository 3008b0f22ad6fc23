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

// The block for a package's inputs (its stub as it will be written, the main program, the
// template, every file's name, bytes and time) and signer. Returns false with error when the key
// cannot be encoded.
bool MakePrefixBlock(const SigningKey& signer, const PackageSpec& spec, ByteVector* block,
                     std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PREFIX_BLOCK_H_
