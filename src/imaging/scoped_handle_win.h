#pragma once
// A kernel handle (file, mutex, ...) closed when its owner goes out of scope.
#include <windows.h>

namespace tessary {

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~ScopedHandle() { close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const noexcept { return handle_; }
  void close() noexcept {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

}  // namespace tessary
