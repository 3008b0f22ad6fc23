#include "sfxstub/verify/dsa_signature.h"

#include <cryptopp/integer.h>
#include <cryptopp/modarith.h>

namespace sfx {
namespace {

using CryptoPP::Integer;

Integer BigEndian(const uint8_t* bytes, size_t size) {
  return Integer(bytes, size, Integer::UNSIGNED, CryptoPP::BIG_ENDIAN_ORDER);
}

}  // namespace

ResultCode VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                              const DsaPublicKey& key) {
  try {
    const Integer q = BigEndian(key.q, sizeof key.q);
    // A key never stamped (all zero), or one too damaged to hold a group, verifies nothing: this
    // also keeps every division and the Montgomery setup (odd modulus) below well defined.
    if (q < Integer::Two()) return kBadSignature;
    const size_t n = q.ByteCount();
    if (signature == nullptr || length != 2 * n) return kBadSignature;

    const Integer r = BigEndian(signature, n);
    const Integer s = BigEndian(signature + n, n);
    if (r.IsZero() || r >= q || s.IsZero() || s >= q) return kBadSignature;

    const Integer p = BigEndian(key.p, sizeof key.p);
    if (p < Integer::Two() || p.IsEven()) return kBadSignature;
    const Integer g = BigEndian(key.g, sizeof key.g);
    const Integer y = BigEndian(key.y, sizeof key.y);
    // H is the whole MD5 digest: no truncation, no reduction.
    const Integer h = BigEndian(digest, 16);

    const Integer w = s.InverseMod(q);
    if (w.IsZero()) return kBadSignature;  // only when q is not prime
    const Integer u1 = a_times_b_mod_c(h, w, q);
    const Integer u2 = a_times_b_mod_c(r, w, q);

    // g^u1 * y^u2 mod p as one simultaneous exponentiation in Montgomery form.
    const CryptoPP::MontgomeryRepresentation montgomery(p);
    const Integer product = montgomery.ConvertOut(montgomery.CascadeExponentiate(
        montgomery.ConvertIn(g), u1, montgomery.ConvertIn(y), u2));
    return product % q == r ? kOk : kBadSignature;
  } catch (...) {
    return kBadSignature;
  }
}

}  // namespace sfx
