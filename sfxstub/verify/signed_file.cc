#include "sfxstub/verify/signed_file.h"

#include <cstdlib>
#include <cstring>

#include "sfxstub/archive/file_stream.h"
#include "sfxstub/archive/heap_block.h"
#include "sfxstub/verify/dsa_signature.h"
#include "sfxstub/verify/pe_signing_fields.h"

#include <tomcrypt.h>

namespace sfx {
namespace {

// Reads of 2 KiB spend as long in the kernel as MD5 spends hashing; at 64 KiB the digest runs at
// md5sum's pace. One buffer, allocated per digest, so memory stays bounded.
constexpr uint32_t kDigestBufferSize = 64 * 1024;
// A text record ends no more than this many positions before the end of the file.
constexpr uint32_t kTextScanPositions = 100;

constexpr uint32_t kMaxCertificatePadding = 7;

struct Record {
  uint32_t kind = 0;
  uint32_t offset = 0;  // the signed length
  uint8_t value[kSignatureBytes] = {};
};

// Stream errors as results. The stream refuses files of 2 GiB or more: their offsets do not fit the
// 32-bit range the records and digests work in, so such a file is reported as out of range.
ResultCode StreamError(const FileStream& stream) {
  uint32_t error = stream.LastError();
  if (error == kErrorFileTooLarge) return kDamagedPackage;
  return error != 0 ? error : kDamagedPackage;
}

// Reads exactly count bytes at offset; anything short or failed is no match.
bool ReadAt(FileStream& stream, uint64_t offset, void* buffer, uint32_t count) {
  if (offset + count > stream.Length()) return false;
  if (stream.Seek(static_cast<int32_t>(offset), kSeekSet) != offset) return false;
  uint32_t got = 0;
  return stream.Read(buffer, count, &got) && got == count;
}

bool MagicAt(FileStream& stream, uint64_t offset, const char* magic) {
  uint8_t bytes[kRecordMagicSize];
  return ReadAt(stream, offset, bytes, kRecordMagicSize) &&
         std::memcmp(bytes, magic, kRecordMagicSize) == 0;
}

class StreamReader final : public ByteReader {
 public:
  explicit StreamReader(FileStream& stream) : stream_(stream) {}
  bool ReadAt(uint64_t offset, void* buffer, uint32_t count) override {
    return sfx::ReadAt(stream_, offset, buffer, count);
  }

 private:
  FileStream& stream_;
};

// The offset of the PE certificate table, or 0 when the file is no PE image or has no such table. A
// table counts only when it is not empty and ends the file, as a code signer writes it: bytes after
// it would lie outside both the package's signature and the code signature.
uint64_t CertificateTableOffset(FileStream& stream) {
  StreamReader reader(stream);
  PeSigningFields fields;
  if (!FindPeSigningFields(reader, &fields) || fields.tableSize == 0) return 0;
  if (uint64_t{fields.tableOffset} + fields.tableSize != stream.Length()) return 0;
  return fields.tableOffset;
}

bool FindBinaryRecord(FileStream& stream, Record* record) {
  const uint32_t size = stream.Length();
  if (size < kBinarySignatureRecordSize) return false;
  uint64_t end = size;
  if (!MagicAt(stream, size - kRecordMagicSize, kBinarySignatureMagic)) {
    end = CertificateTableOffset(stream);
    if (end == 0) return false;
    if (end > kMaxCertificatePadding) {
      for (uint32_t step = 0; step < kMaxCertificatePadding; ++step) {
        uint8_t byte = 0xFF;
        if (!ReadAt(stream, end - 1, &byte, 1) || byte != 0) break;
        --end;
      }
    }
    if (end < kBinarySignatureRecordSize ||
        !MagicAt(stream, end - kRecordMagicSize, kBinarySignatureMagic)) {
      return false;
    }
  }
  const uint64_t offset = end - kBinarySignatureRecordSize;
  if (!ReadAt(stream, offset, record->value, kSignatureBytes)) return false;
  record->kind = kBinarySignature;
  record->offset = static_cast<uint32_t>(offset);
  return true;
}

bool IsHexSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One two-character field read as an unsigned base-16 number the way the C library's strtoul reads
// it: leading blanks and a sign are taken, the first non-digit ends the number, nothing parsed is 0,
// and a minus sign negates. The byte is the low 8 bits.
uint8_t ParseHexPair(const uint8_t* text) {
  uint32_t i = 0;
  while (i < 2 && IsHexSpace(text[i])) ++i;
  bool negative = false;
  if (i < 2 && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < 2 && HexValue(text[i]) >= 0; ++i) value = value * 16 + static_cast<uint32_t>(HexValue(text[i]));
  if (negative) value = 0u - value;
  return static_cast<uint8_t>(value);
}

// closingAt is the offset of the closing magic inside the record; the digits lie between the magics.
bool FindTextRecord(FileStream& stream, const char* magic, uint32_t closingAt, uint32_t kind,
                    Record* record) {
  const uint32_t size = stream.Length();
  if (size < kRecordMagicSize) return false;
  const uint32_t highest = size - kRecordMagicSize;
  uint32_t closing = 0;
  bool found = false;
  for (uint32_t back = 0; back < kTextScanPositions && back <= highest; ++back) {
    if (MagicAt(stream, highest - back, magic)) {
      closing = highest - back;
      found = true;
      break;
    }
  }
  if (!found || closing < closingAt) return false;
  const uint32_t offset = closing - closingAt;
  uint8_t bytes[kTextSignatureRecordSize];
  const uint32_t recordSize = closingAt + kRecordMagicSize;
  if (!ReadAt(stream, offset, bytes, recordSize) ||
      std::memcmp(bytes, magic, kRecordMagicSize) != 0) {
    return false;
  }
  const uint32_t decoded = (closingAt - kRecordMagicSize) / 2;
  for (uint32_t i = 0; i < decoded; ++i) {
    record->value[i] = ParseHexPair(bytes + kRecordMagicSize + 2 * i);
  }
  record->kind = kind;
  record->offset = offset;
  return true;
}

ResultCode LocateRecordIn(FileStream& stream, Record* record) {
  if (FindBinaryRecord(stream, record) ||
      FindTextRecord(stream, kTextSignatureMagic, kTextSignatureRecordSize - kRecordMagicSize,
                     kTextSignature, record) ||
      FindTextRecord(stream, kTextDigestMagic, kTextDigestRecordSize - kRecordMagicSize,
                     kTextDigest, record)) {
    return kOk;
  }
  return kBadSignature;
}

ResultCode LocateRecord(const char* path, Record* record) {
  if (path == nullptr) return kErrorInvalidParameter;
  FileStream stream;
  if (!stream.OpenRead(path)) return StreamError(stream);
  return LocateRecordIn(stream, record);
}

// Feeds md5 the bytes in 0x20..0x7F only, in order, through a small buffer: the same digest
// whatever the pieces the bytes come in.
void ProcessPrintable(hash_state* md5, const uint8_t* bytes, uint32_t length) {
  uint8_t kept[256];
  uint32_t count = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] <= 0x7F) kept[count++] = bytes[i];
    if (count == sizeof kept) {
      md5_process(md5, kept, count);
      count = 0;
    }
  }
  if (count > 0) md5_process(md5, kept, count);
}

// MD5 of [start, end) of an open stream, of every byte or of the printable ones only; the range has
// been checked against the file's size. Read in pieces through one buffer, so memory stays bounded.
// A read that fails or comes up short fails the digest with the stream's error.
ResultCode DigestStreamRange(FileStream& stream, uint32_t start, uint32_t end, bool printableOnly,
                             uint8_t digest[16]) {
  HeapBlock buffer(static_cast<uint8_t*>(std::malloc(kDigestBufferSize)));
  if (!buffer) return kErrorNotEnoughMemory;
  if (stream.Seek(static_cast<int32_t>(start), kSeekSet) != start) return StreamError(stream);
  hash_state md5;
  md5_init(&md5);
  for (uint32_t remaining = end - start; remaining > 0;) {
    const uint32_t want = remaining < kDigestBufferSize ? remaining : kDigestBufferSize;
    uint32_t got = 0;
    if (!stream.Read(buffer.get(), want, &got) || got != want) return StreamError(stream);
    if (printableOnly) {
      ProcessPrintable(&md5, buffer.get(), want);
    } else {
      md5_process(&md5, buffer.get(), want);
    }
    remaining -= want;
  }
  md5_done(&md5, digest);
  return kOk;
}

// MD5 of the signed range [0, signedLength), of the printable bytes only for the text kinds. Unlike
// FileDigest's end, a signed length of 0 is the empty range, not the whole file.
ResultCode DigestSignedRange(FileStream& stream, uint32_t signedLength, bool printableOnly, uint8_t digest[16]) {
  if (signedLength > stream.Length()) return kDamagedPackage;
  return DigestStreamRange(stream, 0, signedLength, printableOnly, digest);
}

bool ModeAccepts(int mode, uint32_t kind) {
  switch (mode) {
    case 2: return kind == kTextSignature || kind == kBinarySignature;
    case 3: return kind == kTextDigest;
    default: return true;
  }
}

}  // namespace

ResultCode FindSignatureRecord(const char* path, uint8_t* signature, uint32_t* kind,
                               uint32_t* signedLength) {
  Record record;
  ResultCode result = LocateRecord(path, &record);
  if (result != kOk) return result;
  if (signature) {
    std::memcpy(signature, record.value, record.kind == kTextDigest ? kDigestBytes : kSignatureBytes);
  }
  if (kind) *kind = record.kind;
  if (signedLength) *signedLength = record.offset;
  return kOk;
}

ResultCode VerifySignedStream(FileStream& stream, int mode, const DsaPublicKey& key, uint32_t* kind,
                              uint32_t* signedLength) {
  Record record;
  ResultCode result = LocateRecordIn(stream, &record);
  if (result != kOk) return result;
  if (!ModeAccepts(mode, record.kind)) return kBadSignature;

  uint8_t digest[kDigestBytes];
  result = DigestSignedRange(stream, record.offset, record.kind != kBinarySignature, digest);
  if (result != kOk) return result;
  if (record.kind == kTextDigest) {
    result = std::memcmp(digest, record.value, kDigestBytes) == 0 ? kOk : kBadSignature;
  } else {
    result = VerifyDsaSignature(digest, record.value, kSignatureBytes, key);
  }
  if (result != kOk) return result;
  if (kind) *kind = record.kind;
  if (signedLength) *signedLength = record.offset;
  return kOk;
}

ResultCode VerifySignedFile(const char* path, int mode, const DsaPublicKey& key) {
  if (mode == 0) return kOk;
  if (path == nullptr) return kErrorInvalidParameter;
  FileStream stream;
  if (!stream.OpenRead(path)) return StreamError(stream);
  return VerifySignedStream(stream, mode, key, nullptr, nullptr);
}

ResultCode FileDigest(const char* path, int32_t start, int32_t end, uint8_t digest[16]) {
  std::memset(digest, 0, kDigestBytes);
  if (path == nullptr) return kErrorInvalidParameter;
  FileStream stream;
  if (!stream.OpenRead(path)) return StreamError(stream);
  const int64_t size = stream.Length();
  int64_t last = end;
  if (last <= 0) last += size;
  if (start < 0 || last < start || last > size) return kDamagedPackage;
  return DigestStreamRange(stream, static_cast<uint32_t>(start), static_cast<uint32_t>(last), false, digest);
}

void BufferDigest(const uint8_t* bytes, uint32_t length, uint8_t digest[16]) {
  hash_state md5;
  md5_init(&md5);
  if (length > 0) md5_process(&md5, bytes, length);
  md5_done(&md5, digest);
}

ResultCode PrintableDigest(const uint8_t* bytes, uint32_t length, uint8_t digest[16]) {
  hash_state md5;
  md5_init(&md5);
  ProcessPrintable(&md5, bytes, length);
  md5_done(&md5, digest);
  return kOk;
}

}  // namespace sfx
