#include "sfxstub/platform/out_of_memory.h"

#if defined(__cpp_exceptions)
#include <new>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace sfx {

void OutOfMemory() {
#if defined(__cpp_exceptions)
  throw std::bad_alloc();
#elif defined(_WIN32)
  ExitProcess(ERROR_NOT_ENOUGH_MEMORY);
#else
  std::abort();
#endif
}

}  // namespace sfx
