// Package blobs: the header's sizes and the zlib data are all attacker-chosen.
#include <cstdlib>
#include <vector>

#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/package_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  copy.reserve(1);
  sfx::MemoryStream stream;
  stream.Attach(copy.data(), static_cast<uint32_t>(copy.size()));
  sfx::HeapBlock buffer;
  uint32_t length = 0;
  sfx::ResultCode result = sfx::ReadPackageBlob(stream, &buffer, &length);
  if (result == sfx::kOk) {
    if (!buffer || size < sfx::kPackageBlobHeaderSize) std::abort();
    uint32_t declared = copy[16] | copy[17] << 8 | copy[18] << 16 | static_cast<uint32_t>(copy[19]) << 24;
    if (length > declared) std::abort();
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + buffer[i]);
    volatile uint8_t sink = sum;  // every reported byte is readable
    (void)sink;
  } else if (buffer) {
    std::abort();
  }
  return 0;
}
