#include "sfxstub/archive/byte_stream.h"

namespace sfx {

bool ByteStream::Read(void*, uint32_t, uint32_t*) { return false; }

uint32_t ByteStream::Length() { return length; }

uint8_t ReadU8(ByteStream& stream) {
  uint8_t value = 0;
  stream.Read(&value, 1, nullptr);
  return value;
}

uint16_t ReadU16(ByteStream& stream) {
  uint16_t low = ReadU8(stream);
  uint16_t high = ReadU8(stream);
  return static_cast<uint16_t>(low | (high << 8));
}

uint32_t ReadU32(ByteStream& stream) {
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(ReadU8(stream)) << shift;
  return value;
}

}  // namespace sfx
