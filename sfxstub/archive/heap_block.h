#ifndef SFXSTUB_ARCHIVE_HEAP_BLOCK_H_
#define SFXSTUB_ARCHIVE_HEAP_BLOCK_H_

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace sfx {

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// A malloc'ed buffer that is freed on every path.
using HeapBlock = std::unique_ptr<uint8_t[], FreeDeleter>;

// A block taken from a stream with Acquire, handed back to the same stream's Release on every path.
template <typename Stream>
class AcquiredBlock {
 public:
  AcquiredBlock(Stream& stream, uint32_t count) : stream_(stream), block_(stream.Acquire(count)) {}
  ~AcquiredBlock() { stream_.Release(block_); }
  AcquiredBlock(const AcquiredBlock&) = delete;
  AcquiredBlock& operator=(const AcquiredBlock&) = delete;

  uint8_t* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }

 private:
  Stream& stream_;
  uint8_t* block_;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_HEAP_BLOCK_H_
