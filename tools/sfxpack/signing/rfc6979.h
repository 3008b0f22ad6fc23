// Deterministic DSA nonces (RFC 6979, section 3.2) with HMAC-SHA-256.
#ifndef SFXSTUB_TOOLS_SFXPACK_SIGNING_RFC6979_H_
#define SFXSTUB_TOOLS_SFXPACK_SIGNING_RFC6979_H_

#include <cryptopp/hmac.h>
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include <cstddef>
#include <cstdint>

namespace sfx {

// The hash enters as bits2int: its leftmost qlen bits when it is longer than q, else all of it.
CryptoPP::Integer HashToInteger(const uint8_t* hash, size_t length, const CryptoPP::Integer& q);

// The sequence of candidate nonces k in [1, q-1] for one private value x and one hash. Next() gives
// the first candidate, and the following ones for a signer that must reject a k (r or s of zero).
class Rfc6979Nonces {
 public:
  Rfc6979Nonces(const CryptoPP::Integer& x, const CryptoPP::Integer& q, const uint8_t* hash,
                size_t length);
  CryptoPP::Integer Next();

 private:
  void Mac(const uint8_t* tag, const CryptoPP::SecByteBlock& data);  // K = HMAC_K(V || tag || data)
  void Step();                                                      // V = HMAC_K(V)

  CryptoPP::Integer q_;
  CryptoPP::SecByteBlock k_;
  CryptoPP::SecByteBlock v_;
  bool started_ = false;
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SIGNING_RFC6979_H_
