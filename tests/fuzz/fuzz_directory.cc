// The chunk directory walk with its file lists, over arbitrary decompressed directory bytes.
#include <cstdlib>
#include <vector>

#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/sfx_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  copy.reserve(1);
  sfx::MemoryStream stream;
  stream.Attach(copy.data(), static_cast<uint32_t>(copy.size()));
  sfx::SfxArchive archive;
  sfx::ResultCode result = archive.ParseDirectory(stream);
  // Whatever the walk accepted must be safe to create inside the extraction folder.
  for (const auto& entry : archive.entries) {
    if (!sfx::IsSafeEntryName(entry.name)) std::abort();
  }
  if (result == sfx::kOk && archive.Mode() != "extract") std::abort();
  return 0;
}
