#include "sfxstub/platform/text.h"

#include <cstdlib>
#include <cstring>

#include "sfxstub/platform/out_of_memory.h"

namespace sfx {

Text::Text(const char* text) {
  if (text != nullptr) append(text, std::strlen(text));
}

Text::Text(const char* text, size_t count) { append(text, count); }

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    std::free(chars);
    chars = std::exchange(other.chars, nullptr);
    length = std::exchange(other.length, 0);
    capacity = std::exchange(other.capacity, 0);
  }
  return *this;
}

Text::~Text() { std::free(chars); }

void Text::Reserve(size_t needed) {
  if (needed <= capacity && chars != nullptr) return;
  if (needed >= npos / 2) OutOfMemory();
  size_t grown = capacity * 2 > needed ? capacity * 2 : needed;
  if (grown < 15) grown = 15;
  char* bigger = static_cast<char*>(std::realloc(chars, grown + 1));
  if (bigger == nullptr) OutOfMemory();
  if (chars == nullptr) bigger[0] = '\0';
  chars = bigger;
  capacity = grown;
}

void Text::Truncate(size_t newLength) {
  if (chars == nullptr) return;
  length = newLength;
  chars[length] = '\0';
}

void Text::assign(const char* text, size_t count) {
  if (chars == text) {  // the text's own head
    Truncate(count);
    return;
  }
  clear();
  append(text, count);
}

Text& Text::append(const char* text, size_t count) {
  if (count > npos / 2 - length) OutOfMemory();
  // text may lie inside this text's own buffer, which the growth may move.
  const size_t offset =
      chars != nullptr && text >= chars && text <= chars + length ? static_cast<size_t>(text - chars) : npos;
  Reserve(length + count);
  if (count > 0) std::memmove(chars + length, offset != npos ? chars + offset : text, count);
  length += count;
  chars[length] = '\0';
  return *this;
}

Text& Text::operator+=(const char* text) { return append(text, std::strlen(text)); }

void Text::replace(size_t at, size_t count, const Text& with) {
  Text result(data(), at);
  result += with;
  result.append(data() + at + count, length - at - count);
  *this = std::move(result);
}

size_t Text::find(char c, size_t from) const {
  for (size_t i = from; i < length; ++i) {
    if (chars[i] == c) return i;
  }
  return npos;
}

size_t Text::rfind(char c) const {
  for (size_t i = length; i > 0; --i) {
    if (chars[i - 1] == c) return i - 1;
  }
  return npos;
}

Text Text::substr(size_t from, size_t count) const {
  const size_t rest = length - from;
  return Text(data() + from, count < rest ? count : rest);
}

bool Text::Equals(const char* text, size_t count) const {
  return count == length && std::memcmp(data(), text, count) == 0;
}

bool operator==(const Text& a, const char* b) { return a.Equals(b, std::strlen(b)); }

bool operator<(const Text& a, const Text& b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  const int order = std::memcmp(a.data(), b.data(), common);
  return order != 0 ? order < 0 : a.size() < b.size();
}

}  // namespace sfx
