// Writers for the signature record at the end of a package file, and signing a whole package.
#ifndef SFXSTUB_TOOLS_SFXPACK_SIGNING_SIGNATURE_RECORDS_H_
#define SFXSTUB_TOOLS_SFXPACK_SIGNING_SIGNATURE_RECORDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/result_code.h"
#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {

// r and s raw, then "JUXSignd": 48 bytes.
void AppendBinarySignature(const uint8_t signature[40], std::vector<uint8_t>* out);
// "JUXSignA", r and s as 80 lower-case hexadecimal digits, "JUXSignA": 96 bytes.
void AppendTextSignature(const uint8_t signature[40], std::vector<uint8_t>* out);
// "JUX_MD5a", the digest as 32 lower-case hexadecimal digits, "JUX_MD5a": 48 bytes.
void AppendTextDigest(const uint8_t digest[16], std::vector<uint8_t>* out);

// The digest a record of kind covers when it follows package: MD5 of every byte for
// kBinarySignature, of the bytes in 0x20..0x7F only for the text kinds. Returns 0 or 8.
ResultCode PackageDigest(const std::vector<uint8_t>& package, SignatureKind kind,
                         uint8_t digest[16]);

// The digest a record of kind covers, fed in pieces: the same as PackageDigest over the pieces put
// together.
class RecordDigest {
 public:
  explicit RecordDigest(SignatureKind kind);
  ~RecordDigest();
  RecordDigest(const RecordDigest&) = delete;
  RecordDigest& operator=(const RecordDigest&) = delete;

  void Update(const uint8_t* bytes, size_t length);
  void Final(uint8_t digest[16]);

 private:
  struct State;
  State* state_;
};

// The record of kind over digest, signed with key (kTextDigest needs no key): 0, 87 for an unknown
// kind, or the signer's failure (1006, with error set).
ResultCode MakeRecord(const SigningKey& key, SignatureKind kind, const uint8_t digest[16],
                      std::vector<uint8_t>* record, std::string* error);
uint32_t RecordSize(SignatureKind kind);
// Files end below 2 GiB: every offset in the stub's stream and record code is a 32-bit signed value.
constexpr uint64_t kMaxSignedFileSize = 0x7FFFFFFF;

// Appends to package a record of kind over all of its bytes, signed with key (kTextDigest needs no
// key). Returns 0; 223 when the signed file would reach 2 GiB, which the stub cannot read; 87 for
// an unknown kind; or the signer's failure (1006, with error set). package is unchanged on failure.
ResultCode SignPackage(const SigningKey& key, SignatureKind kind, std::vector<uint8_t>* package,
                       std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SIGNING_SIGNATURE_RECORDS_H_
