// Text taken from a package (its command template, its names, its mode) as the tool prints it: a
// package is made by whoever made it, and its text must not act on the terminal or pass for the
// tool's own lines.
#ifndef SFXSTUB_TOOLS_SFXPACK_OUTPUT_ESCAPED_TEXT_H_
#define SFXSTUB_TOOLS_SFXPACK_OUTPUT_ESCAPED_TEXT_H_

#include <string>

namespace sfx {

// A JSON string, quotes included: '"' and '\' escaped, control characters as \u00XX.
std::string JsonString(const std::string& text);

// text for a line of plain output: every control character (C0, DEL, and the C1 controls U+0080 to
// U+009F, which some terminals obey too) as \u00XX, and every byte that is not part of valid UTF-8 as
// \xHH. Everything else stays as it is, backslashes included.
std::string EscapedText(const std::string& text);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_OUTPUT_ESCAPED_TEXT_H_
