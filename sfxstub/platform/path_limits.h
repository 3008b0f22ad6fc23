#ifndef SFXSTUB_PLATFORM_PATH_LIMITS_H_
#define SFXSTUB_PLATFORM_PATH_LIMITS_H_

#include <cstddef>

namespace sfx {

// The fixed buffers for paths and command lines (MAX_PATH): 259 characters and the terminator.
constexpr size_t kMaxPathBytes = 260;
// The longest command line CreateProcess takes, terminator included: a child's command line is built
// in a buffer sized to fit, up to this.
constexpr size_t kMaxCommandLineChars = 32767;

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_PATH_LIMITS_H_
