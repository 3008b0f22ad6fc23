// What a failed allocation of the stub's own containers (Text, List) does. The stub's code is built
// without exceptions: there, as before these containers, the process ends with the system's "not
// enough memory" as its exit code. Code built with exceptions (the host, the packaging tool) gets
// std::bad_alloc, as from the standard containers.
#ifndef SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_
#define SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_

namespace sfx {

[[noreturn]] void OutOfMemory();

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_OUT_OF_MEMORY_H_
