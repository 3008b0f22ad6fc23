#include "tools/sfxpack/packing/listed_file_packer.h"

#include <zlib.h>

#include "sfxstub/archive/package_blob.h"

namespace sfx {
namespace {

// Output leaves the compressor in pieces of this size.
constexpr size_t kDeflateOutPiece = 256u << 10;

}  // namespace

bool KeepsDeflated(uint64_t size, uint64_t packedSize) {
  return size != 0 && packedSize != 0 && !CannotKeepDeflated(size, packedSize) &&
         size <= kMaxDeflateRatio * packedSize;
}

bool CannotKeepDeflated(uint64_t size, uint64_t packedSize) {
  // Sizes stay under 2^32, so neither product overflows.
  return packedSize * 100 > size * 99;
}

struct StreamDeflater::State {
  z_stream stream = {};
  bool ready = false;
};

StreamDeflater::StreamDeflater(int level) : state_(new State), out_(kDeflateOutPiece) {
  state_->ready = deflateInit(&state_->stream, level) == Z_OK;
}

StreamDeflater::~StreamDeflater() {
  if (state_->ready) deflateEnd(&state_->stream);
}

bool StreamDeflater::ready() const { return state_->ready; }

bool StreamDeflater::Drain(int flush, const PieceSink& out) {
  z_stream& z = state_->stream;
  int status = Z_OK;
  do {
    z.next_out = out_.data();
    z.avail_out = static_cast<uInt>(out_.size());
    status = deflate(&z, flush);
    if (status == Z_STREAM_ERROR) return false;
    const size_t produced = out_.size() - z.avail_out;
    packedSize_ += produced;
    if (produced != 0 && !out(out_.data(), produced)) return false;
  } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  return true;
}

bool StreamDeflater::Add(const uint8_t* bytes, size_t length, const PieceSink& out) {
  if (!state_->ready) return false;
  z_stream& z = state_->stream;
  // zlib counts input in 32-bit lengths: larger pieces go in parts.
  while (length != 0) {
    const size_t part = length < (1u << 30) ? length : (1u << 30);
    z.next_in = const_cast<uint8_t*>(bytes);
    z.avail_in = static_cast<uInt>(part);
    if (!Drain(Z_NO_FLUSH, out)) return false;
    bytes += part;
    length -= part;
  }
  return true;
}

bool StreamDeflater::Finish(const PieceSink& out) { return state_->ready && Drain(Z_FINISH, out); }

bool PackListedBytes(const std::vector<uint8_t>& bytes, const PackingOptions& options,
                     std::vector<uint8_t>* packed) {
  packed->clear();
  if (!options.Deflates() || bytes.empty()) return false;
  StreamDeflater deflater(options.level);
  const PieceSink keep = [&](const uint8_t* piece, size_t length) {
    packed->insert(packed->end(), piece, piece + length);
    return !CannotKeepDeflated(bytes.size(), packed->size());
  };
  if (!deflater.Add(bytes.data(), bytes.size(), keep) || !deflater.Finish(keep) ||
      !KeepsDeflated(bytes.size(), packed->size())) {
    packed->clear();
    return false;
  }
  return true;
}

}  // namespace sfx
