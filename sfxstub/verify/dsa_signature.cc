#include "sfxstub/verify/dsa_signature.h"

#include <tommath.h>

#include <cstddef>

namespace sfx {
namespace {

// A fixed set of big numbers, initialised together and cleared on every path. A number that could not
// be initialised keeps a null digit array, which mp_clear skips.
template <int N>
class Numbers {
 public:
  Numbers() {
    for (mp_int& n : numbers_) ok_ = mp_init(&n) == MP_OKAY && ok_;
  }
  ~Numbers() {
    for (mp_int& n : numbers_) mp_clear(&n);
  }
  Numbers(const Numbers&) = delete;
  Numbers& operator=(const Numbers&) = delete;

  bool ok() const { return ok_; }
  mp_int* operator[](int i) { return &numbers_[i]; }

 private:
  mp_int numbers_[N] = {};
  bool ok_ = true;
};

bool Bit(const mp_int* e, int i) {
  const int digit = i / MP_DIGIT_BIT;
  return digit < e->used && ((e->dp[digit] >> (i % MP_DIGIT_BIT)) & 1) != 0;
}

// x = x * y / R mod m, the Montgomery product; x and y are below m.
mp_err MontgomeryMultiply(mp_int* x, const mp_int* y, const mp_int* m, mp_digit rho) {
  mp_err err = x == y ? mp_sqr(x, x) : mp_mul(x, y, x);
  return err != MP_OKAY ? err : mp_montgomery_reduce(x, m, rho);
}

// out = a^e * b^f mod m for an odd m > 1, as one simultaneous exponentiation (one squaring per
// exponent bit, at most one multiplication by a, b or a*b) with every product in Montgomery form.
mp_err CascadeExponentiate(const mp_int* m, const mp_int* a, const mp_int* e, const mp_int* b,
                           const mp_int* f, mp_int* out) {
  mp_digit rho = 0;
  mp_err err = mp_montgomery_setup(m, &rho);
  if (err != MP_OKAY) return err;
  Numbers<4> t;
  if (!t.ok()) return MP_MEM;
  mp_int *one = t[0], *am = t[1], *bm = t[2], *abm = t[3];
  // R mod m is 1 in Montgomery form; x R mod m is x in it (which also reduces a base at or above m).
  if ((err = mp_montgomery_calc_normalization(one, m)) != MP_OKAY) return err;
  if ((err = mp_mulmod(a, one, m, am)) != MP_OKAY) return err;
  if ((err = mp_mulmod(b, one, m, bm)) != MP_OKAY) return err;
  if ((err = mp_copy(am, abm)) != MP_OKAY) return err;
  if ((err = MontgomeryMultiply(abm, bm, m, rho)) != MP_OKAY) return err;
  if ((err = mp_copy(one, out)) != MP_OKAY) return err;

  const int eBits = mp_count_bits(e), fBits = mp_count_bits(f);
  for (int i = (eBits > fBits ? eBits : fBits) - 1; i >= 0; --i) {
    if ((err = MontgomeryMultiply(out, out, m, rho)) != MP_OKAY) return err;
    const bool eBit = Bit(e, i), fBit = Bit(f, i);
    if (!eBit && !fBit) continue;
    if ((err = MontgomeryMultiply(out, eBit ? (fBit ? abm : am) : bm, m, rho)) != MP_OKAY) return err;
  }
  return mp_montgomery_reduce(out, m, rho);  // out of Montgomery form
}

bool Decode(mp_int* n, const uint8_t* bytes, size_t size) {
  return mp_from_ubin(n, bytes, size) == MP_OKAY;
}

// 1 < x < m: a group element other than the trivial ones.
bool IsProperElement(const mp_int* x, const mp_int* m) {
  return mp_cmp_d(x, 1) == MP_GT && mp_cmp(x, m) == MP_LT;
}

}  // namespace

ResultCode VerifyDsaSignature(const uint8_t digest[16], const uint8_t* signature, uint32_t length,
                              const DsaPublicKey& key) {
  Numbers<11> n;
  if (!n.ok()) return kBadSignature;
  mp_int *p = n[0], *q = n[1], *g = n[2], *y = n[3], *h = n[4], *r = n[5], *s = n[6], *w = n[7],
         *u1 = n[8], *u2 = n[9], *v = n[10];

  if (!Decode(q, key.q, sizeof key.q)) return kBadSignature;
  // A key never stamped (all zero), or one too damaged to hold a group, verifies nothing: this also
  // keeps every division and the Montgomery setup (odd modulus) below well defined. An even q (2
  // included) is no group order of a DSA key either; refusing it also leaves the inverse modulo q to
  // odd moduli, the only ones the stub's build of the library inverts.
  if (mp_cmp_d(q, 2) == MP_LT || mp_iseven(q)) return kBadSignature;
  const size_t width = (static_cast<size_t>(mp_count_bits(q)) + 7) / 8;
  if (signature == nullptr || length != 2 * width) return kBadSignature;

  if (!Decode(r, signature, width) || !Decode(s, signature + width, width)) return kBadSignature;
  if (mp_iszero(r) || mp_cmp(r, q) != MP_LT || mp_iszero(s) || mp_cmp(s, q) != MP_LT) {
    return kBadSignature;
  }

  if (!Decode(p, key.p, sizeof key.p) || mp_cmp_d(p, 2) == MP_LT || mp_iseven(p)) return kBadSignature;
  if (!Decode(g, key.g, sizeof key.g) || !Decode(y, key.y, sizeof key.y)) return kBadSignature;
  // g or y of 0 or 1 holds no secret (y = 1 is the private value 0; g = 1 makes every v 1), and
  // values of p or more are no group elements: such keys verify nothing rather than anything.
  if (!IsProperElement(g, p) || !IsProperElement(y, p)) return kBadSignature;
  // H is the whole MD5 digest: no truncation, no reduction.
  if (!Decode(h, digest, 16)) return kBadSignature;

  // Fails when s has no inverse, which only happens when q is not prime.
  if (mp_invmod(s, q, w) != MP_OKAY || mp_iszero(w)) return kBadSignature;
  if (mp_mulmod(h, w, q, u1) != MP_OKAY || mp_mulmod(r, w, q, u2) != MP_OKAY) return kBadSignature;

  // v = (g^u1 * y^u2 mod p) mod q
  if (CascadeExponentiate(p, g, u1, y, u2, v) != MP_OKAY || mp_mod(v, q, v) != MP_OKAY) {
    return kBadSignature;
  }
  return mp_cmp(v, r) == MP_EQ ? kOk : kBadSignature;
}

}  // namespace sfx
