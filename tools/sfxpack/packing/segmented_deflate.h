// One zlib stream (RFC 1950) made of segments compressed independently, so that the segments of one
// file can go to several workers at once. Segment i holds input bytes [i * kDeflateSegmentSize,
// (i + 1) * kDeflateSegmentSize), compressed with the 32 KiB of input before it as the dictionary and
// ended on a byte boundary by a sync flush; the last one ends the deflate data. The stream's bytes
// depend on the input and the level alone, whichever worker compressed which segment, and any inflate
// reads it as one stream. Against one deflate call it costs about 0.1 % of the compressed size.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_SEGMENTED_DEFLATE_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_SEGMENTED_DEFLATE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sfx {

constexpr size_t kDeflateSegmentSize = 128u << 10;
constexpr size_t kDeflateDictionarySize = 32u << 10;
constexpr size_t kZlibHeaderSize = 2;
constexpr size_t kZlibTrailerSize = 4;  // the Adler-32 of the input, big-endian

// The segments an input of size bytes has: at least one (an empty input is one empty segment).
uint64_t SegmentCount(uint64_t size);

// The stream's check value (Adler-32) is built from its segments': each segment's own, joined in order.
uint32_t SegmentCheck(const uint8_t* bytes, size_t length);
uint32_t JoinChecks(uint32_t first, uint32_t second, size_t secondLength);
constexpr uint32_t kEmptyCheck = 1;  // of no bytes

// The two bytes that open a stream made at level (what zlib's own deflate writes).
void AppendZlibHeader(int level, std::vector<uint8_t>* out);
void AppendZlibTrailer(uint32_t adler, std::vector<uint8_t>* out);

// The compressor of a worker: its deflate state is made once and reset for every segment.
class SegmentDeflater {
 public:
  SegmentDeflater();
  ~SegmentDeflater();
  SegmentDeflater(const SegmentDeflater&) = delete;
  SegmentDeflater& operator=(const SegmentDeflater&) = delete;

  // Compresses one segment: dictionary holds the input bytes just before it (none for the first
  // segment), last is true for the input's last segment. The raw deflate bytes go to out in pieces
  // of at most 32 KiB; false when out refuses one or zlib fails (out of memory).
  bool Compress(int level, const uint8_t* dictionary, size_t dictionaryLength, const uint8_t* bytes,
                size_t length, bool last, const std::function<bool(const uint8_t*, size_t)>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The whole stream of size bytes in memory, as the workers would make it. stop is asked after every
// segment with the compressed bytes so far; true abandons the stream (and the call returns false).
bool DeflateSegmented(const uint8_t* bytes, size_t size, int level, std::vector<uint8_t>* out,
                      bool (*stop)(uint64_t size, uint64_t packedSoFar) = nullptr);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_SEGMENTED_DEFLATE_H_
