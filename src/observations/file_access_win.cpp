// Windows side of the sheet store's file operations.
#include "observations/file_access.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "imaging/scoped_handle_win.h"
#include "observations/sharing_retry_win.h"

namespace tessary {

namespace {

FileOutcome outcomeOf(DWORD error) {
  if (sharing_retry::isSharingConflict(error)) return FileOutcome::Held;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileOutcome::Missing;
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return FileOutcome::NameTaken;
  return FileOutcome::Failed;
}

FileOutcome failure() { return outcomeOf(GetLastError()); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WindowsFileAccess final : public FileAccess {
 public:
  EntryKind entryAt(const std::filesystem::path& path) override {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::None : EntryKind::Unknown;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ? EntryKind::Other : EntryKind::File;
  }

  FileOutcome read(const std::filesystem::path& path, std::size_t limit, std::string& bytes) override {
    return readFileUpTo(path, limit, bytes);
  }

  FileOutcome writeNew(const std::filesystem::path& path, std::string_view bytes) override {
    // The bytes go out in one WriteFile call.
    if (bytes.size() > MAXDWORD) return FileOutcome::Failed;
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failure();
    static const char kNothing = 0;
    const DWORD length = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), length ? bytes.data() : &kNothing, length, &written, nullptr) &&
                          written == length && FlushFileBuffers(file.get());
    file.close();
    if (!complete) {
      DeleteFileW(path.c_str());
      return FileOutcome::Failed;
    }
    return FileOutcome::Done;
  }

  FileOutcome replace(const std::filesystem::path& target, const std::filesystem::path& replacement,
                      const std::filesystem::path& backup) override {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure();
    // Windows refuses to replace a folder by a file; Wine's ReplaceFileW would move
    // the folder away instead, so a folder at the target is refused here.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileOutcome::Failed;
    if (ReplaceFileW(target.c_str(), replacement.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
      return FileOutcome::Done;
    }
    return failure();
  }

  FileOutcome move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return moveWithoutReplacing(from, to);
  }

  FileOutcome remove(const std::filesystem::path& path) override {
    if (DeleteFileW(path.c_str())) return FileOutcome::Done;
    return failure();
  }

  std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override {
    std::vector<std::filesystem::path> found;
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = (folder / L"*").native();
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
      // The name as the file system gives it, in UTF-16: never converted, so a name
      // that holds no valid text (an unpaired surrogate) is only another name.
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") found.emplace_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
  }

  bool makeFolder(const std::filesystem::path& folder) override { return makeFolderTree(folder); }
};

}  // namespace

FileAccess& platformFileAccess() {
  static WindowsFileAccess files;
  return files;
}

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
