#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace {

// Files end below 2 GiB: every offset in the stub's stream and record code is a 32-bit signed value.
constexpr uint64_t kMaxSignedFileSize = 0x7FFFFFFF;

void AppendMagic(const char* magic, std::vector<uint8_t>* out) {
  out->insert(out->end(), magic, magic + kRecordMagicSize);
}

void AppendHex(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    out->push_back(static_cast<uint8_t>(kDigits[bytes[i] >> 4]));
    out->push_back(static_cast<uint8_t>(kDigits[bytes[i] & 0x0F]));
  }
}

uint32_t RecordSize(SignatureKind kind) {
  switch (kind) {
    case kBinarySignature: return kBinarySignatureRecordSize;
    case kTextSignature: return kTextSignatureRecordSize;
    case kTextDigest: return kTextDigestRecordSize;
  }
  return 0;
}

}  // namespace

void AppendBinarySignature(const uint8_t signature[40], std::vector<uint8_t>* out) {
  out->insert(out->end(), signature, signature + kSignatureBytes);
  AppendMagic(kBinarySignatureMagic, out);
}

void AppendTextSignature(const uint8_t signature[40], std::vector<uint8_t>* out) {
  AppendMagic(kTextSignatureMagic, out);
  AppendHex(signature, kSignatureBytes, out);
  AppendMagic(kTextSignatureMagic, out);
}

void AppendTextDigest(const uint8_t digest[16], std::vector<uint8_t>* out) {
  AppendMagic(kTextDigestMagic, out);
  AppendHex(digest, kDigestBytes, out);
  AppendMagic(kTextDigestMagic, out);
}

ResultCode PackageDigest(const std::vector<uint8_t>& package, SignatureKind kind,
                         uint8_t digest[16]) {
  if (package.size() > kMaxSignedFileSize) return kErrorFileTooLarge;
  const uint32_t size = static_cast<uint32_t>(package.size());
  if (kind == kBinarySignature) {
    BufferDigest(package.data(), size, digest);
    return kOk;
  }
  return PrintableDigest(package.data(), size, digest);
}

ResultCode SignPackage(const SigningKey& key, SignatureKind kind, std::vector<uint8_t>* package,
                       std::string* error) {
  const uint32_t recordSize = RecordSize(kind);
  if (recordSize == 0) return kErrorInvalidParameter;
  if (package->size() + recordSize > kMaxSignedFileSize) {
    if (error) *error = "the signed package would reach 2 GiB, more than the stub can read";
    return kErrorFileTooLarge;
  }
  uint8_t digest[kDigestBytes];
  ResultCode result = PackageDigest(*package, kind, digest);
  if (result != kOk) return result;
  if (kind == kTextDigest) {
    AppendTextDigest(digest, package);
    return kOk;
  }
  uint8_t signature[kSignatureBytes];
  result = key.SignDigest(digest, signature, error);
  if (result != kOk) return result;
  if (kind == kBinarySignature) {
    AppendBinarySignature(signature, package);
  } else {
    AppendTextSignature(signature, package);
  }
  return kOk;
}

}  // namespace sfx
