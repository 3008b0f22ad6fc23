// The name of the run's private temporary directory: base directory, one separator, the name prefix,
// a letter from 'a' to 'z' and the five lowest decimal digits of the thread identifier
// ("C:\\TEMP\\_kv_sfx.tm~a01234"). Portable string logic; temp_dir.h creates the directory.
#ifndef SFXSTUB_PLATFORM_TEMP_DIR_NAME_H_
#define SFXSTUB_PLATFORM_TEMP_DIR_NAME_H_

#include <cstdint>

#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/text.h"

namespace sfx {

// The candidate path for letter. A base that already ends with '\\' gets no second separator.
Text TempDirCandidate(const Text& base, const char* prefix, uint32_t threadId, char letter,
                      LeadBytePredicate isLead);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_TEMP_DIR_NAME_H_
