// What a failed allocation of the stub's own containers (Text, List) does. The stub's code is built
// without exceptions, so nothing unwinds: the handler set by the run (the driver) ends the run as a
// failure of its current stage (directory removed, box shown) and says the exit code, and the process
// ends with it; without a handler, or when memory runs out again inside it, with the system's "not
// enough memory" (8). Code built with exceptions (the host, the packaging tool) calls the handler
// too, then gets std::bad_alloc, as from the standard containers.
#ifndef SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_
#define SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_

#include <cstdint>

namespace sfx {

// Returns the process exit code. Must not allocate.
using OutOfMemoryHandler = uint32_t (*)();

// null: none. Returns the one it replaces.
OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler);

[[noreturn]] void OutOfMemory();

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_
