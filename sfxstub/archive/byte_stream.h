// A small random-access stream over a file or a block of memory. Positions and counts are 32-bit;
// every integer in the package formats is read through it, little-endian.
#ifndef SFXSTUB_ARCHIVE_BYTE_STREAM_H_
#define SFXSTUB_ARCHIVE_BYTE_STREAM_H_

#include <cstdint>

namespace sfx {

enum SeekOrigin : int { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

class ByteStream {
 public:
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // The slot order of these operations is part of the design; keep it.
  virtual ~ByteStream() = default;
  // Reads up to count bytes at position. transferred may be null.
  virtual bool Read(void* buffer, uint32_t count, uint32_t* transferred);
  // transferred receives the bytes written, or 0xFFFFFFFF when the write failed.
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* transferred) = 0;
  // A block of count bytes starting at position, or null. Hand it back to Release of the same stream.
  virtual uint8_t* Acquire(uint32_t count) = 0;
  virtual void Release(uint8_t* block) = 0;
  // Returns the new position, 0xFFFFFFFF on failure.
  virtual uint32_t Seek(int32_t offset, int origin) = 0;
  virtual void Close() = 0;
  virtual uint32_t Length();

  uint32_t position = 0;

 protected:
  uint32_t length = 0;
};

// Little-endian readers. Bytes missing at the end of the stream read as zero; short reads are not
// reported, so callers bound their walks by position and Length.
uint8_t ReadU8(ByteStream& stream);
uint16_t ReadU16(ByteStream& stream);
uint32_t ReadU32(ByteStream& stream);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_BYTE_STREAM_H_
