#include "sfxstub/platform/out_of_memory.h"

#if defined(__cpp_exceptions)
#include <new>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace sfx {
namespace {

constexpr uint32_t kNotEnoughMemory = 8;

OutOfMemoryHandler handler = nullptr;
bool handling = false;

}  // namespace

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler replacement) {
  OutOfMemoryHandler previous = handler;
  handler = replacement;
  return previous;
}

void OutOfMemory() {
  uint32_t exitCode = kNotEnoughMemory;
  if (handler != nullptr && !handling) {
    handling = true;  // a second failure inside the handler ends the process at once
    exitCode = handler();
    handling = false;
  }
#if defined(__cpp_exceptions)
  (void)exitCode;
  throw std::bad_alloc();
#elif defined(_WIN32)
  ExitProcess(exitCode);
#else
  (void)exitCode;
  std::abort();
#endif
}

}  // namespace sfx
