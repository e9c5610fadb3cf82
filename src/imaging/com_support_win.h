#pragma once
// Scope owners for COM and GDI+: an owning interface pointer, a scoped COM
// initialisation and a scoped GDI+ start-up. Every COM object and GDI+ session is
// released when its owner leaves scope, on error paths too.
#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>

#include <cstdint>
#include <utility>

namespace tessary {

// Owns one reference to a COM interface. Move-only.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ~ComPtr() { reset(); }

  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Releases the held reference and returns the slot for an out parameter.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  // The same slot typed for CoCreateInstance / QueryInterface.
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  void reset() noexcept {
    if (ptr_ != nullptr) {
      std::exchange(ptr_, nullptr)->Release();
    }
  }
  // Hands the reference to the caller.
  T* detach() noexcept { return std::exchange(ptr_, nullptr); }

 private:
  T* ptr_ = nullptr;
};

// CoInitializeEx for the current thread, undone at scope exit when it succeeded
// (S_OK or S_FALSE). A thread already initialised in the other model
// (RPC_E_CHANGED_MODE) keeps its model; `ok()` then reports false.
class ScopedCoInitialize {
 public:
  explicit ScopedCoInitialize(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : result_(CoInitializeEx(nullptr, model)) {}
  ~ScopedCoInitialize() {
    if (SUCCEEDED(result_)) {
      CoUninitialize();
    }
  }
  ScopedCoInitialize(const ScopedCoInitialize&) = delete;
  ScopedCoInitialize& operator=(const ScopedCoInitialize&) = delete;

  bool ok() const noexcept { return SUCCEEDED(result_); }
  HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// GdiplusStartup for the process, GdiplusShutdown at scope exit. Every GDI+ object
// must be gone before this owner is destroyed.
class ScopedGdiplus {
 public:
  ScopedGdiplus() noexcept {
    Gdiplus::GdiplusStartupInput input;
    status_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~ScopedGdiplus() {
    if (status_ == Gdiplus::Ok) {
      Gdiplus::GdiplusShutdown(token_);
    }
  }
  ScopedGdiplus(const ScopedGdiplus&) = delete;
  ScopedGdiplus& operator=(const ScopedGdiplus&) = delete;

  bool ok() const noexcept { return status_ == Gdiplus::Ok; }

 private:
  ULONG_PTR token_ = 0;
  Gdiplus::Status status_ = Gdiplus::GenericError;
};

}  // namespace tessary
