#ifndef SFXSTUB_ARCHIVE_MEMORY_STREAM_H_
#define SFXSTUB_ARCHIVE_MEMORY_STREAM_H_

#include "sfxstub/archive/byte_stream.h"

namespace sfx {

// A stream over a block that somebody else owns: attaching, detaching and destroying never allocate
// or free it. Acquire is zero-copy, so nested chunks are walked in place.
class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override = default;

  bool Attach(uint8_t* block, uint32_t count);
  void Detach() { Close(); }

  bool Read(void* buffer, uint32_t count, uint32_t* transferred) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* transferred) override;
  uint8_t* Acquire(uint32_t count) override;
  void Release(uint8_t*) override {}
  // No bound check: a position past the end makes later reads fail. From the end: length + offset.
  uint32_t Seek(int32_t offset, int origin) override;
  void Close() override;

 private:
  bool attached = false;
  uint8_t* data = nullptr;
};

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_MEMORY_STREAM_H_
