// Listed files deflated as zlib streams: a "FILE" record with a "ZLIB" sub-chunk (the unpacked size,
// 32-bit little-endian) has one zlib stream at its "PTRL" range; without one the range holds the
// file's bytes. The rule for which files are kept deflated, and the compressor both writers share,
// so that the package written in one pass and the one laid out in memory are the same bytes.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sfx {

// How build packs the listed files (the main program is a package blob at level 9 whatever these say).
struct PackingOptions {
  int level = 9;       // zlib's level, 0-9; 0 stores every file, as --store does
  bool store = false;  // every listed file stored
  bool Deflates() const { return !store && level > 0; }
};

// Whether a file of size bytes is kept as its zlib stream of packedSize bytes: not empty, saving at
// least 1 % of its size, and within the ratio the stub accepts (which a real stream always is).
bool KeepsDeflated(uint64_t size, uint64_t packedSize);
// True once packedSize bytes of a file's stream are already too many to keep it deflated: the
// stream only grows, so compressing further is wasted.
bool CannotKeepDeflated(uint64_t size, uint64_t packedSize);

// Where a compressor's output goes, piece by piece; false stops it.
using PieceSink = std::function<bool(const uint8_t* bytes, size_t length)>;

// One zlib stream (RFC 1950) at a level, fed in pieces of any size: the output is the same bytes
// whatever the pieces are, and what the one-call compressor gives. Output leaves through fixed
// buffers, so memory does not grow with the data.
class StreamDeflater {
 public:
  explicit StreamDeflater(int level);
  ~StreamDeflater();
  StreamDeflater(const StreamDeflater&) = delete;
  StreamDeflater& operator=(const StreamDeflater&) = delete;

  bool ready() const;
  // Compresses length more bytes; false when out refuses a piece (or zlib fails).
  bool Add(const uint8_t* bytes, size_t length, const PieceSink& out);
  // Ends the stream: its last bytes and the Adler-32 go to out.
  bool Finish(const PieceSink& out);
  // The bytes handed to out so far.
  uint64_t packedSize() const { return packedSize_; }

 private:
  bool Drain(int flush, const PieceSink& out);
  struct State;
  std::unique_ptr<State> state_;
  std::vector<uint8_t> out_;
  uint64_t packedSize_ = 0;
};

// A listed file as it goes into a package laid out in memory: true with its zlib stream in *packed,
// or false when it is stored (options say so, or deflating would not save 1 %).
bool PackListedBytes(const std::vector<uint8_t>& bytes, const PackingOptions& options,
                     std::vector<uint8_t>* packed);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_FILE_PACKER_H_
