// The public key block inside the stub executable. The stub is built with an all-zero key; the
// packaging tool writes the signer's key into the built executable ("stamping"), so that one stub
// build serves any signer. Layout, at any offset in the image:
//
//   offset  size  content
//   0       16    the marker "JUXsetupDSAKey01", found exactly once in a stub image
//   16      128   p, unsigned big-endian
//   144     20    q
//   164     128   g
//   292     128   y
//
// The functions below work on an image's bytes, for the packaging tool (they keep the standard
// containers); the stub itself only reads its own block (built_in_key.h) through
// BuiltInPublicKey().
#ifndef SFXSTUB_VERIFY_KEY_BLOCK_H_
#define SFXSTUB_VERIFY_KEY_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/result_code.h"
#include "sfxstub/verify/built_in_key.h"
#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

// Offset of the one key block in image, searched up to PeImageEnd: bytes appended after the image
// (the package, which may carry stubs of its own as files) are not looked at. Returns 0, or 1006
// with error saying why: no marker, more than one, or a block cut short by the end of the image.
ResultCode FindKeyBlock(const std::vector<uint8_t>& image, size_t* offset, std::string* error);
// Where the PE image at the start of bytes ends: the end of its last section's raw data. Bytes that
// do not begin with a PE image whose section table lies inside them count whole.
size_t PeImageEnd(const std::vector<uint8_t>& bytes);
// The key stamped into image (all zero when never stamped). Returns 0 or FindKeyBlock's failure.
ResultCode ReadStampedKey(const std::vector<uint8_t>& image, DsaPublicKey* key, std::string* error);
// Writes key into image's block; nothing else in image changes. Stamping again replaces the key.
ResultCode StampKey(std::vector<uint8_t>* image, const DsaPublicKey& key, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_KEY_BLOCK_H_
