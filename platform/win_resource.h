// Small RAII owners for the Win32 and COM resources the program holds.
// Where a failure to close must be reported (the progress monitor), close
// explicitly with release() and check; the destructor is the safety net.
#pragma once

#include <windows.h>
// Needs <windows.h> first.
#include <oleauto.h>

#include <utility>

#include "platform/system_api.h"

namespace ulvex {

/// Owns one value of a handle-like type; Close frees it, IsValid says
/// whether a value is held (null handles and INVALID_HANDLE_VALUE differ).
template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return value_; }
  bool valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return valid(); }

  /// Gives up ownership without closing.
  T release() {
    T value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  void reset(T value = Traits::Invalid()) {
    if (Traits::IsValid(value_)) Traits::Close(value_);
    value_ = value;
  }
  /// Frees what is held and hands out the address for an out-parameter.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Invalid();
};

struct HkeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
struct HandleTraits {  // handles that are null when absent (events, processes)
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {  // NOTE: CreateFile/CreatePipe style:
                           // INVALID_HANDLE_VALUE
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) {
    return h != INVALID_HANDLE_VALUE && h != nullptr;
  }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct BstrTraits {
  static BSTR Invalid() { return nullptr; }
  static bool IsValid(BSTR s) { return s != nullptr; }
  static void Close(BSTR s) { System().SysFreeString(s); }
};

using UniqueHkey = UniqueResource<HKEY, HkeyTraits>;
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;
using UniqueFileHandle = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueFind = UniqueResource<HANDLE, FindTraits>;
using Bstr = UniqueResource<BSTR, BstrTraits>;

/// Holds one COM reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(other.release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = other.release();
    }
    return *this;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T* release() { return std::exchange(ptr_, nullptr); }
  /// Takes over a reference the caller already owns (no AddRef).
  void attach(T* ptr) {
    reset();
    ptr_ = ptr;
  }
  void reset() {
    if (ptr_ != nullptr) std::exchange(ptr_, nullptr)->Release();
  }
  T** put() {
    reset();
    return &ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  T* ptr_ = nullptr;
};

/// A VARIANT that is cleared when it goes out of scope.
class Variant {
 public:
  Variant() { System().VariantInit(&value_); }
  ~Variant() { System().VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }

 private:
  VARIANT value_;
};

}  // namespace ulvex
