#include "tools/sfxpack/packing/segmented_deflate.h"

#include <zlib.h>

#include <new>

namespace sfx {

uint64_t SegmentCount(uint64_t size) {
  return size == 0 ? 1 : (size + kDeflateSegmentSize - 1) / kDeflateSegmentSize;
}

uint32_t SegmentCheck(const uint8_t* bytes, size_t length) {
  return static_cast<uint32_t>(adler32_z(kEmptyCheck, bytes, length));
}

uint32_t JoinChecks(uint32_t first, uint32_t second, size_t secondLength) {
  return static_cast<uint32_t>(adler32_combine(first, second, static_cast<z_off_t>(secondLength)));
}

void AppendZlibHeader(int level, std::vector<uint8_t>* out) {
  const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (levelFlags << 6);  // deflate, 32 KiB window
  header += 31 - header % 31;
  out->push_back(static_cast<uint8_t>(header >> 8));
  out->push_back(static_cast<uint8_t>(header));
}

void AppendZlibTrailer(uint32_t adler, std::vector<uint8_t>* out) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(adler >> shift));
}

// Output leaves the compressor through a buffer of this size.
constexpr size_t kOutPiece = 32u << 10;

struct SegmentDeflater::State {
  z_stream stream = {};
  int level = -1;  // -1: no deflate state yet
  std::unique_ptr<uint8_t[]> out;

  ~State() {
    if (level >= 0) deflateEnd(&stream);
  }
};

SegmentDeflater::SegmentDeflater() : state_(new State) {}
SegmentDeflater::~SegmentDeflater() = default;

bool SegmentDeflater::Compress(int level, const uint8_t* dictionary, size_t dictionaryLength,
                               const uint8_t* bytes, size_t length, bool last,
                               const std::function<bool(const uint8_t*, size_t)>& out) {
  State& s = *state_;
  z_stream& z = s.stream;
  if (!s.out) {
    s.out.reset(new (std::nothrow) uint8_t[kOutPiece]);
    if (!s.out) return false;
  }
  if (s.level != level) {
    if (s.level >= 0) deflateEnd(&z);
    s.level = -1;
    z = z_stream();
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    s.level = level;
  } else if (deflateReset(&z) != Z_OK) {
    return false;
  }
  if (dictionaryLength != 0 &&
      deflateSetDictionary(&z, dictionary, static_cast<uInt>(dictionaryLength)) != Z_OK) {
    return false;
  }
  z.next_in = const_cast<uint8_t*>(bytes);
  z.avail_in = static_cast<uInt>(length);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  int status = Z_OK;
  do {
    z.next_out = s.out.get();
    z.avail_out = static_cast<uInt>(kOutPiece);
    status = deflate(&z, flush);
    if (status == Z_STREAM_ERROR) return false;
    const size_t produced = kOutPiece - z.avail_out;
    if (produced != 0 && !out(s.out.get(), produced)) return false;
    // A sync flush is complete once it leaves room in the buffer; the last segment once the stream ends.
  } while (last ? status != Z_STREAM_END : z.avail_out == 0);
  return z.avail_in == 0;
}

bool DeflateSegmented(const uint8_t* bytes, size_t size, int level, std::vector<uint8_t>* out,
                      bool (*stop)(uint64_t size, uint64_t packedSoFar)) {
  out->clear();
  AppendZlibHeader(level, out);
  SegmentDeflater deflater;
  for (uint64_t segment = 0, count = SegmentCount(size); segment < count; ++segment) {
    const size_t start = static_cast<size_t>(segment * kDeflateSegmentSize);
    const size_t length = size - start < kDeflateSegmentSize ? size - start : kDeflateSegmentSize;
    const size_t dictionary = start < kDeflateDictionarySize ? start : kDeflateDictionarySize;
    const auto keep = [out](const uint8_t* packed, size_t packedLength) {
      out->insert(out->end(), packed, packed + packedLength);
      return true;
    };
    if (!deflater.Compress(level, bytes + start - dictionary, dictionary, bytes + start, length,
                           segment + 1 == count, keep)) {
      return false;
    }
    if (stop && stop(size, out->size() - kZlibHeaderSize)) return false;
  }
  AppendZlibTrailer(SegmentCheck(bytes, size), out);
  return true;
}

}  // namespace sfx
