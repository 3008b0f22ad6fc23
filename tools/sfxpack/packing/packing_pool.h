// The compression of a build, on a few workers at once: the main program's blob data and every
// listed file that may be deflated are jobs, cut into segments (segmented_deflate.h) so that one big
// file keeps every worker busy too. Each worker takes the next segment, biggest job first, reads it
// with the 32 KiB before it and appends its deflate data to a spill of its own (an anonymous
// temporary file); a listed file is given up as soon as its segments cannot save 1 %. The package is
// then written by copying the segments in order, so its bytes do not depend on how many workers there
// were or which did what. A worker holds under 1 MiB (a segment, its output and the deflate state)
// whatever the inputs.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_POOL_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_POOL_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/sfxpack/packing/segmented_deflate.h"

namespace sfx {

// A listed file, still in its source.
struct ListedSource {
  std::string name;
  std::string path;
  uint64_t size = 0;  // measured beforehand; a source whose size has changed since is an error
  uint32_t time = 0;  // seconds since 1970 UTC
};

// Reads source in pieces of the buffer's size, handing each to use, and moves the progress line by
// each piece use took (unless counted is false: bytes read before); false when it cannot be read,
// when use fails (error then stays as use left it), or when it no longer has the size it was
// measured at.
bool ReadSource(const ListedSource& source, std::vector<uint8_t>* buffer,
                const std::function<bool(const uint8_t*, size_t)>& use, std::string* error, bool counted = true);

// Workers beyond this many would only add memory: a build stays far under 64 MiB.
constexpr unsigned kMaxPackingWorkers = 32;

// The workers a build uses: one per core, at most kMaxPackingWorkers. SFXPACK_WORKERS overrides it
// (the tests build the same package with one and with several).
unsigned PackingWorkers();

struct PackJob {
  const ListedSource* source = nullptr;
  int level = 9;
  bool mayStore = true;  // a listed file: stored when deflating does not save 1 %
};

// Where a segment's deflate data went.
struct PackedSegment {
  size_t spill = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t adler = kEmptyCheck;  // of the segment's input
  size_t length = 0;   // of the segment's input
};

struct PackedJob {
  bool deflated = false;  // false: the source is stored as it is
  uint64_t size = 0;      // the zlib stream's length when deflated
  int level = 9;
  uint32_t adler = kEmptyCheck;  // of the source's bytes
  std::vector<PackedSegment> segments;
};

class PackingPool {
 public:
  PackingPool();
  ~PackingPool();
  PackingPool(const PackingPool&) = delete;
  PackingPool& operator=(const PackingPool&) = delete;

  // Runs every job on up to workers threads. False with the error of the first segment (in job order)
  // that failed; the workers stop at their next segment.
  bool Run(const std::vector<PackJob>& jobs, unsigned workers, std::string* error);
  const PackedJob& Result(size_t job) const { return results_[job]; }
  // Hands a deflated job's zlib stream to sink, through buffer.
  bool Copy(size_t job, std::vector<uint8_t>* buffer,
            const std::function<bool(const uint8_t*, size_t, std::string*)>& sink, std::string* error);

 private:
  struct Spill;
  std::vector<std::unique_ptr<Spill>> spills_;
  std::vector<PackedJob> results_;
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_POOL_H_
