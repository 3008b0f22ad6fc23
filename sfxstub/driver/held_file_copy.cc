#include "sfxstub/driver/held_file_copy.h"

#include <cstdio>
#include <cstdlib>

#include "sfxstub/archive/byte_stream.h"
#include "sfxstub/archive/heap_block.h"

namespace sfx {
namespace {

ResultCode Copy(FileStream& source, FileStream& output) {
  HeapBlock buffer(static_cast<uint8_t*>(std::malloc(kHeldCopyBufferBytes)));
  if (!buffer) return kErrorNotEnoughMemory;
  if (source.Seek(0, kSeekSet) != 0) return source.LastError();
  for (;;) {
    uint32_t got = 0;
    if (!source.Read(buffer.get(), kHeldCopyBufferBytes, &got)) return source.LastError();
    if (got == 0) return kOk;
    uint32_t written = 0;
    if (!output.Write(buffer.get(), got, &written)) return output.LastError();
    if (written != got) return kErrorDiskFull;
  }
}

}  // namespace

ResultCode WriteFromHeldFile(FileStream& source, const char* target, FileStream* held) {
  held->Close();
  FileStream output;
  if (!output.OpenNew(target, FileShare::kReadOnly)) return output.LastError();
  ResultCode result = Copy(source, output);
  // From writer to reader: a reader that tolerates the writer first, then the writer goes, then the
  // reader that lets others only read, then the first reader goes. The name stays this file's
  // throughout (each of these handles refuses renames and deletion); the one moment another opener
  // could write is while the first reader alone holds it, and that takes write access to the file,
  // which its access list gives only to those the run's directory gives it.
  FileStream bridge;
  if (result == kOk && !bridge.OpenRead(target, FileShare::kReadWrite)) result = bridge.LastError();
  output.Close();
  if (result == kOk && !held->OpenRead(target, FileShare::kReadOnly)) result = held->LastError();
  bridge.Close();
  if (result != kOk) {
    held->Close();
    std::remove(target);
  }
  return result;
}

}  // namespace sfx
