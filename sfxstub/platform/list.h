// An owned, growable array: the stub's own replacement for std::vector (see text.h for why).
// Move-only; elements move when it grows. A failed allocation ends in OutOfMemory().
#ifndef SFXSTUB_PLATFORM_LIST_H_
#define SFXSTUB_PLATFORM_LIST_H_

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#include "sfxstub/platform/out_of_memory.h"

namespace sfx {

template <typename T>
class List {
 public:
  List() = default;
  List(List&& other) noexcept
      : items(std::exchange(other.items, nullptr)),
        count(std::exchange(other.count, 0)),
        capacity(std::exchange(other.capacity, 0)) {}
  List& operator=(List&& other) noexcept {
    if (this != &other) {
      Release();
      items = std::exchange(other.items, nullptr);
      count = std::exchange(other.count, 0);
      capacity = std::exchange(other.capacity, 0);
    }
    return *this;
  }
  List(const List&) = delete;
  List& operator=(const List&) = delete;
  ~List() { Release(); }

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  T* data() { return items; }
  const T* data() const { return items; }
  T& operator[](size_t at) { return items[at]; }
  const T& operator[](size_t at) const { return items[at]; }
  T& back() { return items[count - 1]; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }

  void push_back(T&& item) {
    Reserve(count + 1);
    new (items + count) T(std::move(item));
    ++count;
  }
  // Value-initialised elements are added, or the last ones destroyed.
  void resize(size_t newCount) {
    Reserve(newCount);
    for (; count < newCount; ++count) new (items + count) T();
    while (count > newCount) items[--count].~T();
  }
  void clear() { resize(0); }

 private:
  void Reserve(size_t needed) {
    if (needed <= capacity) return;
    if (needed > static_cast<size_t>(-1) / 2 / sizeof(T)) OutOfMemory();
    size_t grown = capacity * 2 > needed ? capacity * 2 : needed;
    if (grown < 4) grown = 4;
    T* bigger = static_cast<T*>(std::malloc(grown * sizeof(T)));
    if (bigger == nullptr) OutOfMemory();
    for (size_t i = 0; i < count; ++i) {
      new (bigger + i) T(std::move(items[i]));
      items[i].~T();
    }
    std::free(items);
    items = bigger;
    capacity = grown;
  }
  void Release() {
    clear();
    std::free(items);
    items = nullptr;
    capacity = 0;
  }

  T* items = nullptr;  // malloc'ed
  size_t count = 0;
  size_t capacity = 0;
};

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_LIST_H_
