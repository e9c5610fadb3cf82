// Windows side of the sheet store's file operations.
#include "observations/file_access.h"

#include <windows.h>

#include <algorithm>

#include "imaging/scoped_handle_win.h"
#include "observations/sharing_retry_win.h"

namespace tessary {

namespace {

// One attempt: open, then read up to the limit. The last error tells a sharing or
// lock conflict from other failures.
bool readOnce(const std::wstring& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  constexpr DWORD kChunk = 1 << 20;
  while (bytes.size() < limit) {
    const std::size_t offset = bytes.size();
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(kChunk, limit - offset));
    bytes.resize(offset + wanted);
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + offset, wanted, &got, nullptr)) {
      const DWORD error = GetLastError();
      bytes.clear();
      SetLastError(error);
      return false;
    }
    bytes.resize(offset + got);
    if (got == 0) break;
  }
  return true;
}

}  // namespace

bool readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  const std::wstring name = path.native();
  return sharing_retry::retryOnSharingConflict([&] { return readOnce(name, limit, bytes); },
                                               [](DWORD) { return true; });
}

bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists; without
  // MOVEFILE_COPY_ALLOWED it never turns into a copy that needs space.
  return sharing_retry::retryOnSharingConflict(
      [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; },
      [&](DWORD) { return true; });
}

}  // namespace tessary
