#include "tools/sfxpack/signing/signature_records.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

namespace sfx {
namespace {

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

}  // namespace

uint32_t RecordSize(SignatureKind kind) {
  switch (kind) {
    case kBinarySignature: return kBinarySignatureRecordSize;
    case kTextSignature: return kTextSignatureRecordSize;
    case kTextDigest: return kTextDigestRecordSize;
  }
  return 0;
}

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

struct RecordDigest::State {
  CryptoPP::Weak::MD5 md5;
  bool printableOnly;
};

RecordDigest::RecordDigest(SignatureKind kind) : state_(new State) {
  state_->printableOnly = kind != kBinarySignature;
}

RecordDigest::~RecordDigest() { delete state_; }

void RecordDigest::Update(const uint8_t* bytes, size_t length) {
  if (!state_->printableOnly) {
    state_->md5.Update(bytes, length);
    return;
  }
  uint8_t kept[4096];
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7F) continue;
    kept[count++] = bytes[i];
    if (count == sizeof kept) {
      state_->md5.Update(kept, count);
      count = 0;
    }
  }
  state_->md5.Update(kept, count);
}

void RecordDigest::Final(uint8_t digest[16]) { state_->md5.Final(digest); }

ResultCode MakeRecord(const SigningKey& key, SignatureKind kind, const uint8_t digest[16],
                      std::vector<uint8_t>* record, std::string* error) {
  if (RecordSize(kind) == 0) return kErrorInvalidParameter;
  if (kind == kTextDigest) {
    AppendTextDigest(digest, record);
    return kOk;
  }
  uint8_t signature[kSignatureBytes];
  ResultCode result = key.SignDigest(digest, signature, error);
  if (result != kOk) return result;
  if (kind == kBinarySignature) {
    AppendBinarySignature(signature, record);
  } else {
    AppendTextSignature(signature, record);
  }
  return kOk;
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
  return MakeRecord(key, kind, digest, package, error);
}

}  // namespace sfx
