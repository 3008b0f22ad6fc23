// UTF-8 to UTF-16 and back, for the texts resources hold.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_UTF16_TEXT_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_UTF16_TEXT_H_

#include <string>

namespace sfx {

// False for bytes that are not UTF-8 (overlong forms and surrogates included).
bool Utf8ToUtf16(const std::string& text, std::u16string* out);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_UTF16_TEXT_H_
