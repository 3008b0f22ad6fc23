// The signature record at the end of a package file, and the check of the bytes it signs.
#ifndef SFXSTUB_VERIFY_SIGNED_FILE_H_
#define SFXSTUB_VERIFY_SIGNED_FILE_H_

#include <cstdint>

#include "sfxstub/result_code.h"
#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

class FileStream;

enum SignatureKind : uint32_t {
  kTextSignature = 0,    // "JUXSignA", 96 bytes, hexadecimal r and s between two magics
  kBinarySignature = 1,  // r, s (20 bytes each, big-endian), then "JUXSignd": 48 bytes
  kTextDigest = 2,       // "JUX_MD5a", 32 hexadecimal digits of MD5, "JUX_MD5a": 48 bytes
};

constexpr uint32_t kSignatureBytes = 40;
constexpr uint32_t kDigestBytes = 16;

// The record formats. Magics are 8 ASCII bytes without a terminator; hexadecimal text gives each byte
// as two digits, most significant first.
constexpr uint32_t kRecordMagicSize = 8;
constexpr char kBinarySignatureMagic[] = "JUXSignd";
constexpr char kTextSignatureMagic[] = "JUXSignA";
constexpr char kTextDigestMagic[] = "JUX_MD5a";
constexpr uint32_t kBinarySignatureRecordSize = 48;  // r, s, magic
constexpr uint32_t kTextSignatureRecordSize = 96;    // magic, 80 digits, magic
constexpr uint32_t kTextDigestRecordSize = 48;       // magic, 32 digits, magic

// Finds the record; every output may be null and is written only on success. signature receives
// the 40 decoded bytes (16 for kTextDigest). Returns 0, 0x2000000B, or the open's LastError.
ResultCode FindSignatureRecord(const char* path, uint8_t* signature, uint32_t* kind,
                               uint32_t* signedLength);

// Mode 0 accepts without looking; 2 accepts the two signature kinds; 3 the digest kind only; any
// other value all three. Returns 0 only when the record verifies over every byte before it.
ResultCode VerifySignedFile(const char* path, int mode, const DsaPublicKey& key);
inline ResultCode VerifySignedFile(const char* path, int mode) {
  return VerifySignedFile(path, mode, BuiltInPublicKey());
}

// The same check over a file the caller holds open, so that what is verified is the very file the
// caller goes on to read, whatever happens to its name meanwhile. On success *kind and
// *signedLength (each may be null) give the record that verified. Mode 0 is not special here.
ResultCode VerifySignedStream(FileStream& stream, int mode, const DsaPublicKey& key, uint32_t* kind,
                              uint32_t* signedLength);

// MD5 of the file's bytes [start, end); an end of 0 or less counts from the end of the file.
ResultCode FileDigest(const char* path, int32_t start, int32_t end, uint8_t digest[16]);
void BufferDigest(const uint8_t* bytes, uint32_t length, uint8_t digest[16]);
// MD5 of the bytes in 0x20..0x7F only, in order. Returns 0; the bytes are not copied.
ResultCode PrintableDigest(const uint8_t* bytes, uint32_t length, uint8_t digest[16]);

}  // namespace sfx

#endif  // SFXSTUB_VERIFY_SIGNED_FILE_H_
