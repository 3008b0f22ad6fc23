// Byte-string searches that respect double-byte characters of the system's ANSI code page: a match
// never starts on the second byte of a character. Portable: the code page's lead bytes come in as a
// predicate (IsDBCSLeadByte on Windows, a fixed table in tests).
#ifndef SFXSTUB_PLATFORM_MULTIBYTE_H_
#define SFXSTUB_PLATFORM_MULTIBYTE_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/platform/text.h"

namespace sfx {

// True when byte starts a double-byte character.
using LeadBytePredicate = bool (*)(uint8_t byte);

// For single-byte code pages.
bool NoLeadBytes(uint8_t byte);

#if defined(_WIN32)
// The system's ANSI code page.
bool SystemLeadByte(uint8_t byte);
#endif

constexpr size_t kNotFound = Text::npos;

// Length in bytes of the character that starts at text[position]: 2 for a lead byte followed by
// another byte, else 1.
size_t CharacterLength(const Text& text, size_t position, LeadBytePredicate isLead);

// Position of the first exact, case-sensitive occurrence of pattern at or after from (a character
// boundary), or kNotFound. An empty pattern is never found.
size_t FindText(const Text& text, const Text& pattern, LeadBytePredicate isLead, size_t from = 0);
inline bool ContainsText(const Text& text, const Text& pattern, LeadBytePredicate isLead) {
  return FindText(text, pattern, isLead) != kNotFound;
}

// Position of the last single-byte character c in text, or kNotFound; the second byte of a
// double-byte character is never taken for it.
size_t FindLastChar(const Text& text, char c, LeadBytePredicate isLead);

// True when the last character of text is the single-byte character c.
bool EndsWithChar(const Text& text, char c, LeadBytePredicate isLead);

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_MULTIBYTE_H_
