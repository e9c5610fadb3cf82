// Native side of the sheet store's file operations. Files here are never held by
// another program in the Windows sense, so nothing answers Held.
#include "observations/file_access.h"
#include "observations/file_descriptor_posix.h"

#include <cerrno>
#include <dirent.h>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tessary {

using posixfile::Descriptor;
using posixfile::readSome;
using posixfile::writeAll;

namespace {

// A missing name, or a folder on the way that is missing.
FileOutcome failureFromErrno() { return errno == ENOENT || errno == ENOTDIR ? FileOutcome::Missing : FileOutcome::Failed; }

// Makes a completed rename durable.
void syncFolderOf(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

class PosixFileAccess final : public FileAccess {
 public:
  EntryKind entryAt(const std::filesystem::path& path) override {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      return errno == ENOENT || errno == ENOTDIR ? EntryKind::None : EntryKind::Unknown;
    }
    return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
  }

  FileOutcome read(const std::filesystem::path& path, std::size_t limit, std::string& bytes) override {
    return readFileUpTo(path, limit, bytes);
  }

  FileOutcome writeNew(const std::filesystem::path& path, std::string_view bytes) override {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!file.valid()) return errno == EEXIST ? FileOutcome::NameTaken : failureFromErrno();
    const bool written = writeAll(file.get(), bytes.data(), bytes.size()) && ::fsync(file.get()) == 0;
    if (!file.close() || !written) {
      ::unlink(path.c_str());
      return FileOutcome::Failed;
    }
    return FileOutcome::Done;
  }

  // The previous file is linked under the backup name first, then the replacement
  // is renamed over the target: each step leaves a complete target.
  FileOutcome replace(const std::filesystem::path& target, const std::filesystem::path& replacement,
                      const std::filesystem::path& backup) override {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) return failureFromErrno();
    // A target without any write permission counts as read-only, as the read-only
    // attribute does on Windows: it is never replaced.
    if (!S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0) return FileOutcome::Failed;
    if (::unlink(backup.c_str()) != 0 && errno != ENOENT) return FileOutcome::Failed;
    if (::link(target.c_str(), backup.c_str()) != 0) return FileOutcome::Failed;
    if (::rename(replacement.c_str(), target.c_str()) != 0) return failureFromErrno();
    syncFolderOf(target);
    return FileOutcome::Done;
  }

  FileOutcome move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    const FileOutcome moved = moveWithoutReplacing(from, to);
    if (moved == FileOutcome::Done) syncFolderOf(to);
    return moved;
  }

  FileOutcome remove(const std::filesystem::path& path) override {
    if (::unlink(path.c_str()) == 0) return FileOutcome::Done;
    return failureFromErrno();
  }

  std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override {
    std::vector<std::filesystem::path> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") found.emplace_back(name);
    }
    ::closedir(dir);
    return found;
  }

  bool makeFolder(const std::filesystem::path& folder) override { return makeFolderTree(folder); }
};

}  // namespace

FileAccess& platformFileAccess() {
  static PosixFileAccess files;
  return files;
}

FileOutcome readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return failureFromErrno();
  // Sized once from the file's length, so that a large file is not copied as the
  // text grows.
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && info.st_size > 0) {
    bytes.reserve(std::min(limit, static_cast<std::size_t>(info.st_size) + 1));
  }
  constexpr std::size_t kChunk = 1 << 20;
  while (bytes.size() < limit) {
    const std::size_t offset = bytes.size();
    // Within the room reserved, as long as there is any: the last read, which finds
    // the end, then needs no larger buffer.
    const std::size_t room = bytes.capacity() > offset ? bytes.capacity() - offset : kChunk;
    const std::size_t wanted = std::min({kChunk, limit - offset, room});
    bytes.resize(offset + wanted);
    const ssize_t got = readSome(file.get(), bytes.data() + offset, wanted);
    if (got < 0) {
      bytes.clear();
      return FileOutcome::Failed;
    }
    bytes.resize(offset + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  return FileOutcome::Done;
}

CopyOutcome copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.valid()) return CopyOutcome::Failed;
  Descriptor copy(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!copy.valid()) return errno == EEXIST ? CopyOutcome::NameTaken : CopyOutcome::Failed;
  std::vector<char> buffer(1 << 16);
  bool complete = true;
  for (;;) {
    const ssize_t got = readSome(source.get(), buffer.data(), buffer.size());
    if (got <= 0) {
      complete = got == 0;
      break;
    }
    if (!writeAll(copy.get(), buffer.data(), static_cast<std::size_t>(got))) {
      complete = false;
      break;
    }
  }
  complete = complete && ::fsync(copy.get()) == 0;
  complete = copy.close() && complete;
  if (!complete) {
    ::unlink(to.c_str());
    return CopyOutcome::Failed;
  }
  return CopyOutcome::Copied;
}

FileOutcome moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return FileOutcome::Done;
  if (errno == EEXIST) return FileOutcome::NameTaken;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return failureFromErrno();
  // File systems without the no-replace rename: a hard link also refuses an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? FileOutcome::NameTaken : failureFromErrno();
  ::unlink(from.c_str());
  return FileOutcome::Done;
}

}  // namespace tessary
