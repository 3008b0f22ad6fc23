// An owned, growable, terminated byte string: the stub's own replacement for std::string, which
// would bring the standard library's string and exception code and the unwinder into the stub.
// Move-only (Copy() says where a copy is made). A failed allocation ends in OutOfMemory().
#ifndef SFXSTUB_PLATFORM_TEXT_H_
#define SFXSTUB_PLATFORM_TEXT_H_

#include <cstddef>
#include <type_traits>
#include <utility>

namespace sfx {

class Text {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  Text() = default;
  // text may be null (empty).
  Text(const char* text);  // NOLINT: literals and C strings convert implicitly
  Text(const char* text, size_t length);
  // Any other contiguous byte string (std::string at the host's edges) converts implicitly.
  template <typename S, typename = std::enable_if_t<
                            !std::is_same_v<std::decay_t<S>, Text> &&
                            std::is_convertible_v<decltype(std::declval<const S&>().data()), const char*>>>
  Text(const S& text) : Text(text.data(), text.size()) {}  // NOLINT
  Text(Text&& other) noexcept
      : chars(std::exchange(other.chars, nullptr)),
        length(std::exchange(other.length, 0)),
        capacity(std::exchange(other.capacity, 0)) {}
  Text& operator=(Text&& other) noexcept;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text();

  Text Copy() const { return Text(data(), length); }

  const char* c_str() const { return chars != nullptr ? chars : ""; }
  const char* data() const { return c_str(); }
  size_t size() const { return length; }
  bool empty() const { return length == 0; }
  char operator[](size_t at) const { return c_str()[at]; }
  char& operator[](size_t at) { return chars[at]; }
  char back() const { return chars[length - 1]; }
  const char* begin() const { return data(); }
  const char* end() const { return data() + length; }

  void clear() { Truncate(0); }
  void pop_back() { Truncate(length - 1); }
  // Keeps the first newLength bytes (newLength <= size()).
  void Truncate(size_t newLength);
  void assign(const char* text, size_t count);
  Text& append(const char* text, size_t count);
  Text& operator+=(const char* text);
  Text& operator+=(const Text& text) { return append(text.data(), text.size()); }
  Text& operator+=(char c) { return append(&c, 1); }
  void push_back(char c) { append(&c, 1); }
  // Replaces count bytes at at (both within the text) by with.
  void replace(size_t at, size_t count, const Text& with);

  // Position of the first byte c at or after from, or npos.
  size_t find(char c, size_t from = 0) const;
  // Position of the last byte c, or npos.
  size_t rfind(char c) const;
  // The bytes from from (at most size()) on, at most count of them.
  Text substr(size_t from, size_t count = npos) const;

  friend bool operator==(const Text& a, const Text& b) { return a.Equals(b.data(), b.size()); }
  friend bool operator==(const Text& a, const char* b);
  friend bool operator==(const char* a, const Text& b) { return b == a; }
  friend bool operator!=(const Text& a, const Text& b) { return !(a == b); }
  friend bool operator!=(const Text& a, const char* b) { return !(a == b); }
  friend bool operator!=(const char* a, const Text& b) { return !(b == a); }
  // Byte order, as unsigned bytes; a text before every longer one it starts.
  friend bool operator<(const Text& a, const Text& b);

 private:
  bool Equals(const char* text, size_t count) const;
  // Room for at least needed bytes and the terminator.
  void Reserve(size_t needed);

  char* chars = nullptr;  // malloc'ed, terminated; null while nothing was ever stored
  size_t length = 0;
  size_t capacity = 0;  // bytes usable before the terminator
};

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_TEXT_H_
