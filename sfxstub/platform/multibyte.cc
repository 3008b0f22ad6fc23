#include "sfxstub/platform/multibyte.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sfx {

bool NoLeadBytes(uint8_t) { return false; }

#if defined(_WIN32)
bool SystemLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }
#endif

size_t CharacterLength(const Text& text, size_t position, LeadBytePredicate isLead) {
  // A lead byte at the very end stands alone.
  return isLead(static_cast<uint8_t>(text[position])) && position + 1 < text.size() ? 2 : 1;
}

size_t FindText(const Text& text, const Text& pattern, LeadBytePredicate isLead, size_t from) {
  if (pattern.empty()) return kNotFound;
  for (size_t i = from; i < text.size() && text.size() - i >= pattern.size();
       i += CharacterLength(text, i, isLead)) {
    if (std::memcmp(text.data() + i, pattern.data(), pattern.size()) == 0) return i;
  }
  return kNotFound;
}

size_t FindLastChar(const Text& text, char c, LeadBytePredicate isLead) {
  size_t found = kNotFound;
  for (size_t i = 0; i < text.size(); i += CharacterLength(text, i, isLead)) {
    if (text[i] == c) found = i;
  }
  return found;
}

bool EndsWithChar(const Text& text, char c, LeadBytePredicate isLead) {
  return !text.empty() && FindLastChar(text, c, isLead) == text.size() - 1;
}

}  // namespace sfx
