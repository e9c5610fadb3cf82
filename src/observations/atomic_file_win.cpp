// Crash-safe replacement of a file on Windows: the new content is written and
// flushed under a temporary name, then moved or replaced into place, so the old or
// the new content survives any interruption.
#include "observations/atomic_file.h"

#include <windows.h>

#include "observations/atomic_file_win.h"
#include "observations/file_access.h"
#include "observations/sharing_retry_win.h"
#include "imaging/scoped_handle_win.h"

namespace tessary {

namespace {

using sharing_retry::retryOnSharingConflict;

bool pathMissing(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool moveWriteThrough(const std::wstring& from, const std::wstring& to) {
  return retryOnSharingConflict([&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; },
                                [](DWORD) { return true; });
}

}  // namespace

namespace atomic_file_detail {

void settleFailedReplacement(const std::wstring& target, const std::wstring& temporary,
                             const std::wstring& backup) {
  if (pathMissing(target)) {
    // The replacement failed after the old file had left the target name: with a
    // backup it waits under the backup name (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2),
    // without one it is gone (ERROR_UNABLE_TO_MOVE_REPLACEMENT).
    bool restored = false;
    if (!backup.empty() && !pathMissing(backup)) {
      // A copy counts only when every byte of it is on disk.
      restored = moveWriteThrough(backup, target) || copyAside(backup, target) == CopyOutcome::Copied;
    }
    // Where the previous content did not survive, the new content is better than no
    // file at all.
    if (!restored) moveWriteThrough(temporary, target);
  }
  DeleteFileW(temporary.c_str());
}

}  // namespace atomic_file_detail

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, bool keepBackup) {
  const std::wstring targetName = target.native();
  const std::wstring temporary = targetName + L".tmp";
  const std::wstring backup = keepBackup ? targetName + L".bak" : std::wstring();
  // The bytes go out in one WriteFile call.
  if (bytes.size() > MAXDWORD) return false;

  {
    ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    static const char kNothing = 0;
    const DWORD length = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), length ? bytes.data() : &kNothing, length, &written, nullptr) &&
                          written == length && FlushFileBuffers(file.get());
    if (!complete) {
      file.close();
      DeleteFileW(temporary.c_str());
      return false;
    }
  }

  const DWORD attributes = GetFileAttributesW(targetName.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // First write: nothing to keep as a backup.
    if (moveWriteThrough(temporary, targetName)) return true;
    DeleteFileW(temporary.c_str());
    return false;
  }

  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // Windows refuses to replace a folder by a file; Wine's ReplaceFileW would move
    // the folder away instead, so a folder at the target is refused here.
    DeleteFileW(temporary.c_str());
    return false;
  }
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  const bool replaced = retryOnSharingConflict(
      [&] {
        return ReplaceFileW(targetName.c_str(), temporary.c_str(), keepBackup ? backup.c_str() : nullptr, 0,
                            nullptr, nullptr) != 0;
      },
      // Retried only while nothing was moved yet; a read-only target stays refused.
      [&](DWORD error) { return !(error == ERROR_ACCESS_DENIED && readOnly) && !pathMissing(targetName); });
  if (replaced) return true;
  atomic_file_detail::settleFailedReplacement(targetName, temporary, backup);
  return false;
}

}  // namespace tessary
