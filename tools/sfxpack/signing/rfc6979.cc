#include "tools/sfxpack/signing/rfc6979.h"

#include <cstring>

namespace sfx {
namespace {

using CryptoPP::Integer;
using CryptoPP::SecByteBlock;
using Hmac = CryptoPP::HMAC<CryptoPP::SHA256>;

constexpr size_t kHashSize = CryptoPP::SHA256::DIGESTSIZE;

SecByteBlock IntToOctets(const Integer& value, size_t size) {
  SecByteBlock out(size);
  value.Encode(out, out.size());
  return out;
}

Integer BitsToInt(const uint8_t* bits, size_t length, size_t qlen) {
  Integer value(bits, length);
  if (length * 8 > qlen) value >>= length * 8 - qlen;
  return value;
}

}  // namespace

Integer HashToInteger(const uint8_t* hash, size_t length, const Integer& q) {
  return BitsToInt(hash, length, q.BitCount());
}

Rfc6979Nonces::Rfc6979Nonces(const Integer& x, const Integer& q, const uint8_t* hash, size_t length)
    : q_(q), k_(kHashSize), v_(kHashSize) {
  const size_t rlen = q.ByteCount();
  const SecByteBlock privateOctets = IntToOctets(x, rlen);
  const SecByteBlock hashOctets = IntToOctets(HashToInteger(hash, length, q) % q, rlen);
  SecByteBlock seed(privateOctets.size() + hashOctets.size());
  std::memcpy(seed.begin(), privateOctets.begin(), privateOctets.size());
  std::memcpy(seed.begin() + privateOctets.size(), hashOctets.begin(), hashOctets.size());

  std::memset(v_.begin(), 0x01, v_.size());
  std::memset(k_.begin(), 0x00, k_.size());
  static const uint8_t kZero = 0x00, kOne = 0x01;
  Mac(&kZero, seed);
  Step();
  Mac(&kOne, seed);
  Step();
}

void Rfc6979Nonces::Mac(const uint8_t* tag, const SecByteBlock& data) {
  Hmac mac(k_, k_.size());
  mac.Update(v_, v_.size());
  if (tag) mac.Update(tag, 1);
  mac.Update(data, data.size());
  mac.Final(k_);
}

void Rfc6979Nonces::Step() {
  Hmac mac(k_, k_.size());
  mac.Update(v_, v_.size());
  mac.Final(v_);
}

Integer Rfc6979Nonces::Next() {
  static const uint8_t kZero = 0x00;
  const size_t qlen = q_.BitCount();
  const size_t rlen = (qlen + 7) / 8;
  for (;;) {
    if (started_) {
      Mac(&kZero, SecByteBlock());
      Step();
    }
    started_ = true;
    SecByteBlock t;
    while (t.size() < rlen) {
      Step();
      t.Append(v_, v_.size());
    }
    Integer k = BitsToInt(t, t.size(), qlen);
    if (k.NotZero() && k < q_) return k;
  }
}

}  // namespace sfx
