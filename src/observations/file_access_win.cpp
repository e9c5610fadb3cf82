// Windows side of the sheet store's file operations.
#include "observations/file_access.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "imaging/scoped_handle_win.h"

namespace tessary {

namespace {

// Another program holds the file open without sharing what is asked, or holds a
// lock on the range.
bool heldByAnotherProgram(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

FileOutcome failure() { return heldByAnotherProgram(GetLastError()) ? FileOutcome::Held : FileOutcome::Failed; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

FileOutcome readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  ScopedHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return failure();
  // Sized once from the file's length, so that a large file is not copied as the
  // text grows.
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
    bytes.reserve(std::min<std::size_t>(limit, static_cast<std::size_t>(size.QuadPart) + 1));
  }
  constexpr DWORD kChunk = 1 << 20;
  while (bytes.size() < limit) {
    const std::size_t offset = bytes.size();
    // Within the room reserved, as long as there is any: the last read, which finds
    // the end, then needs no larger buffer.
    const std::size_t room = bytes.capacity() > offset ? bytes.capacity() - offset : kChunk;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>({kChunk, limit - offset, room}));
    bytes.resize(offset + wanted);
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + offset, wanted, &got, nullptr)) {
      const FileOutcome outcome = failure();
      bytes.clear();
      return outcome;
    }
    bytes.resize(offset + got);
    if (got == 0) break;
  }
  return FileOutcome::Done;
}

CopyOutcome copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  ScopedHandle source(
      CreateFileW(from.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source.valid()) return failure() == FileOutcome::Held ? CopyOutcome::Held : CopyOutcome::Failed;
  ScopedHandle copy(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy.valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CopyOutcome::NameTaken : CopyOutcome::Failed;
  }
  std::vector<char> buffer(1 << 16);
  bool complete = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      complete = false;
      break;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(copy.get(), buffer.data(), got, &written, nullptr) || written != got) {
      complete = false;
      break;
    }
  }
  complete = complete && FlushFileBuffers(copy.get());
  copy.close();
  if (!complete) {
    DeleteFileW(to.c_str());
    return CopyOutcome::Failed;
  }
  return CopyOutcome::Copied;
}

FileOutcome moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists; without
  // MOVEFILE_COPY_ALLOWED it never turns into a copy that needs space.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return FileOutcome::Done;
  return failure();
}

}  // namespace tessary
