#include "sfxstub/archive/memory_stream.h"

#include <cstring>

namespace sfx {

bool MemoryStream::Attach(uint8_t* block, uint32_t count) {
  if (attached || block == nullptr) return false;
  data = block;
  length = count;
  position = 0;
  attached = true;
  return true;
}

bool MemoryStream::Read(void* buffer, uint32_t count, uint32_t* transferred) {
  if (!attached || position >= length) return false;
  uint32_t n = count < length - position ? count : length - position;
  if (n > 0) std::memcpy(buffer, data + position, n);
  position += n;
  if (transferred) *transferred = n;
  return true;
}

bool MemoryStream::Write(const void* buffer, uint32_t count, uint32_t* transferred) {
  if (!attached || position >= length) return false;
  uint32_t n = count < length - position ? count : length - position;
  if (n > 0) std::memcpy(data + position, buffer, n);
  position += n;
  if (transferred) *transferred = n;
  return true;
}

uint8_t* MemoryStream::Acquire(uint32_t count) {
  if (!attached || static_cast<uint64_t>(position) + count > length) return nullptr;
  uint8_t* block = data + position;
  position += count;
  return block;
}

uint32_t MemoryStream::Seek(int32_t offset, int origin) {
  switch (origin) {
    case kSeekSet: position = static_cast<uint32_t>(offset); break;
    case kSeekCurrent: position += static_cast<uint32_t>(offset); break;
    case kSeekEnd: position = length + static_cast<uint32_t>(offset); break;
    default: break;
  }
  return position;
}

void MemoryStream::Close() {
  data = nullptr;
  attached = false;
}

}  // namespace sfx
