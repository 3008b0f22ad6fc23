#include "tools/sfxpack/output/escaped_text.h"

#include <cstdint>
#include <cstdio>

namespace sfx {
namespace {

std::string Escape(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The length of the valid UTF-8 sequence at text[at], or 0 when there is none; *point receives it.
size_t Utf8Sequence(const std::string& text, size_t at, uint32_t* point) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, *point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, *point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, *point = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    *point = *point << 6 | (byte(at + i) & 0x3F);
  }
  if (*point < minimum || *point > 0x10FFFF || (*point >= 0xD800 && *point <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += Escape("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string EscapedText(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    uint32_t point = 0;
    const size_t length = Utf8Sequence(text, at, &point);
    if (length == 0) {
      out += Escape("\\x%02x", static_cast<unsigned char>(text[at++]));
    } else if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
      out += Escape("\\u%04x", point);
      at += length;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

}  // namespace sfx
