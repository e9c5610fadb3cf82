#pragma once
// A file held open by "another program" with the given sharing, for the Windows
// tests of writes and reads that meet a file in use.
#include <windows.h>

#include <filesystem>

namespace tessary::testing {

// Opened for reading with `sharing`; closed when the scope ends or on request.
class HeldFile {
 public:
  HeldFile(const std::filesystem::path& path, DWORD sharing)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}
  ~HeldFile() { release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void release() {
    if (held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

}  // namespace tessary::testing
