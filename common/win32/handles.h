// RAII owners for the Win32 handles the suite opens. Each closes exactly
// once; none throws.
#pragma once
#include <windows.h>

#include <utility>

namespace kelm::win {

template <typename T, typename Traits>
class Owner {
 public:
  Owner() = default;
  explicit Owner(T v) : v_(v) {}
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& o) noexcept : v_(std::exchange(o.v_, Traits::Invalid())) {}
  Owner& operator=(Owner&& o) noexcept {
    if (this != &o) reset(std::exchange(o.v_, Traits::Invalid()));
    return *this;
  }
  ~Owner() { reset(); }

  T get() const { return v_; }
  explicit operator bool() const { return Traits::Valid(v_); }
  T release() { return std::exchange(v_, Traits::Invalid()); }
  void reset(T v = Traits::Invalid()) {
    if (Traits::Valid(v_)) Traits::Close(v_);
    v_ = v;
  }
  // For out-parameters: closes the current value first.
  T* put() {
    reset();
    return &v_;
  }

 private:
  T v_ = Traits::Invalid();
};

// Kernel handles: both NULL and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueHandle = Owner<HANDLE, KernelHandleTraits>;

struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool Valid(HKEY k) { return k != nullptr; }
  static void Close(HKEY k) { ::RegCloseKey(k); }
};
using RegKey = Owner<HKEY, RegKeyTraits>;

struct ScHandleTraits {
  static SC_HANDLE Invalid() { return nullptr; }
  static bool Valid(SC_HANDLE h) { return h != nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};
using ScHandle = Owner<SC_HANDLE, ScHandleTraits>;

struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
using FindHandle = Owner<HANDLE, FindHandleTraits>;

struct LocalMemTraits {
  static HLOCAL Invalid() { return nullptr; }
  static bool Valid(HLOCAL h) { return h != nullptr; }
  static void Close(HLOCAL h) { ::LocalFree(h); }
};
using LocalMem = Owner<HLOCAL, LocalMemTraits>;

struct EventSourceTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr; }
  static void Close(HANDLE h) { ::DeregisterEventSource(h); }
};
using EventSource = Owner<HANDLE, EventSourceTraits>;

// Owners whose "none" is null and that one function closes.
template <typename T, auto CloseFn>
struct NullHandleTraits {
  static T Invalid() { return nullptr; }
  static bool Valid(T v) { return v != nullptr; }
  static void Close(T v) { CloseFn(v); }
};
using UniqueMenu = Owner<HMENU, NullHandleTraits<HMENU, &::DestroyMenu>>;
using Bitmap = Owner<HBITMAP, NullHandleTraits<HBITMAP, &::DeleteObject>>;
using UniqueIcon = Owner<HICON, NullHandleTraits<HICON, &::DestroyIcon>>;

}  // namespace kelm::win
