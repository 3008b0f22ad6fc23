// The stub's texts as standard strings, where the packaging tool takes them over.
#ifndef SFXSTUB_TOOLS_SFXPACK_STD_TEXT_H_
#define SFXSTUB_TOOLS_SFXPACK_STD_TEXT_H_

#include <string>

#include "sfxstub/platform/text.h"

namespace sfx {

inline std::string StdString(const Text& text) { return std::string(text.data(), text.size()); }

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_STD_TEXT_H_
