// One object on the heap without operator new, whose failure the standard library reports by
// throwing (and so brings the exception machinery into the stub): a failed allocation gives null.
#ifndef SFXSTUB_PLATFORM_HEAP_OBJECT_H_
#define SFXSTUB_PLATFORM_HEAP_OBJECT_H_

#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace sfx {

// A new T, or null when there is no memory. Delete it with DeleteObject (or own it as HeapObject).
template <typename T, typename... Args>
T* NewObject(Args&&... args) {
  void* memory = std::malloc(sizeof(T));
  return memory != nullptr ? new (memory) T(std::forward<Args>(args)...) : nullptr;
}

// object may be null; its static type has a virtual destructor when the object is of a derived type
// (single inheritance: the base shares the object's address).
template <typename T>
void DeleteObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  std::free(object);
}

struct ObjectDeleter {
  template <typename T>
  void operator()(T* object) const {
    DeleteObject(object);
  }
};

// An owner of a NewObject.
template <typename T>
using HeapObject = std::unique_ptr<T, ObjectDeleter>;

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_HEAP_OBJECT_H_
