// Move-only owners of Win32 resources: each releases its resource exactly once, on every path.
#ifndef SFXSTUB_PLATFORM_UNIQUE_HANDLE_H_
#define SFXSTUB_PLATFORM_UNIQUE_HANDLE_H_

#include <windows.h>

#include <utility>

namespace sfx {

// Traits: Value, Invalid(), IsValid(value), Close(value).
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { Reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value Get() const { return value_; }
  bool IsValid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return IsValid(); }

  // Gives up ownership without releasing.
  Value Release() {
    Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  void Reset(Value value = Traits::Invalid()) {
    Value old = value_;
    value_ = value;
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // Releases what is held and returns the slot for an API's out parameter.
  Value* Receive() {
    Reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

// Kernel handles: null and INVALID_HANDLE_VALUE both mean none.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value value) { return value != nullptr && value != INVALID_HANDLE_VALUE; }
  static void Close(Value value) { CloseHandle(value); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) { return value != INVALID_HANDLE_VALUE && value != nullptr; }
  static void Close(Value value) { FindClose(value); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

struct LibraryTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value value) { return value != nullptr; }
  static void Close(Value value) { FreeLibrary(value); }
};
using UniqueLibrary = UniqueResource<LibraryTraits>;

// Memory the system allocated for the caller with LocalAlloc (security descriptors, access lists).
template <typename T>
struct LocalMemoryTraits {
  using Value = T*;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value value) { return value != nullptr; }
  static void Close(Value value) { LocalFree(reinterpret_cast<HLOCAL>(value)); }
};
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;

// A security identifier from AllocateAndInitializeSid.
struct SidTraits {
  using Value = PSID;
  static Value Invalid() { return nullptr; }
  static bool IsValid(Value value) { return value != nullptr; }
  static void Close(Value value) { FreeSid(value); }
};
using UniqueSid = UniqueResource<SidTraits>;

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_UNIQUE_HANDLE_H_
