#include "sfxstub/archive/package_blob.h"

#include <zlib.h>

#include <cstring>

namespace sfx {
namespace {

// A zlib inflate state, ended on every path.
class Inflater {
 public:
  Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ready() const { return ready_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_ = {};
  bool ready_ = false;
};

}  // namespace

ResultCode ReadPackageBlobHeader(ByteStream& stream, uint32_t size, PackageBlobHeader* header) {
  uint8_t magic[kPackageBlobMagicSize] = {};
  uint32_t got = 0;
  if (size < kPackageBlobMagicSize || !stream.Read(magic, kPackageBlobMagicSize, &got) ||
      got != kPackageBlobMagicSize || std::memcmp(magic, kPackageBlobMagic, kPackageBlobMagicSize) != 0) {
    return kDamagedPackage;
  }
  header->unpackedSize = ReadU32(stream);
  header->packedSize = ReadU32(stream);
  if (header->unpackedSize > kMaxPackageBlobSize) return kErrorNotEnoughMemory;
  // Deflate cannot expand data more than 1032-fold: a larger declared size is impossible, and
  // allocating it would only let a tiny blob claim gigabytes.
  if (header->unpackedSize > static_cast<uint64_t>(header->packedSize) * kMaxDeflateRatio) return kDamagedPackage;
  if (static_cast<uint64_t>(kPackageBlobHeaderSize) + header->packedSize > size) return kErrorNotEnoughMemory;
  return kOk;
}

ResultCode ReadPackageBlob(ByteStream& stream, HeapBlock* buffer, uint32_t* length) {
  stream.Seek(0, kSeekSet);
  buffer->reset();
  PackageBlobHeader header;
  ResultCode result = ReadPackageBlobHeader(stream, stream.Length(), &header);
  if (result != kOk) return result;

  HeapBlock output(static_cast<uint8_t*>(std::malloc(header.unpackedSize ? header.unpackedSize : 1)));
  if (!output) return kErrorNotEnoughMemory;
  AcquiredBlock<ByteStream> packed(stream, header.packedSize);
  if (!packed) return kErrorNotEnoughMemory;

  uLongf outLength = header.unpackedSize;
  int status = uncompress(output.get(), &outLength, packed.get(), header.packedSize);
  if (status != Z_OK) return kDamagedPackage;
  *length = static_cast<uint32_t>(outLength);
  *buffer = std::move(output);
  return kOk;
}

ResultCode InflatePackageBlob(ByteStream& stream, const PackageBlobHeader& header, ByteStream& output,
                              uint32_t pieceSize, uint32_t* written) {
  *written = 0;
  const uint32_t inSize = header.packedSize < pieceSize ? header.packedSize : pieceSize;
  HeapBlock in(static_cast<uint8_t*>(std::malloc(inSize ? inSize : 1)));
  HeapBlock out(static_cast<uint8_t*>(std::malloc(pieceSize)));
  if (!in || !out) return kErrorNotEnoughMemory;
  Inflater inflater;
  if (!inflater.ready()) return kDamagedPackage;  // as the one-call decompressor answers it
  z_stream& z = inflater.stream();
  uint32_t unread = header.packedSize;
  uint64_t total = 0;
  for (;;) {
    if (z.avail_in == 0 && unread > 0) {
      const uint32_t want = unread < inSize ? unread : inSize;
      uint32_t got = 0;
      if (!stream.Read(in.get(), want, &got)) return kErrorReadFault;
      if (got != want) return kDamagedPackage;  // the file ends inside the blob
      z.next_in = in.get();
      z.avail_in = want;
      unread -= want;
    }
    z.next_out = out.get();
    z.avail_out = pieceSize;
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return kDamagedPackage;  // corrupt, bad check, cut short
    const uint32_t produced = pieceSize - z.avail_out;
    total += produced;
    if (total > header.unpackedSize) return kDamagedPackage;
    if (produced > 0) {
      uint32_t put = 0;
      if (!output.Write(out.get(), produced, &put) || put != produced) return kErrorWriteFault;
      *written = static_cast<uint32_t>(total);
    }
    if (status == Z_STREAM_END) return kOk;
    // Nothing left to read and nothing more inflated from what is held: the data end early.
    if (unread == 0 && z.avail_in == 0 && produced < pieceSize) return kDamagedPackage;
  }
}

}  // namespace sfx
