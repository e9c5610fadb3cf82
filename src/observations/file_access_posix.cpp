// Native side of the sheet store's file operations. Files here are never held by
// another program in the Windows sense, so nothing answers Held.
#include "observations/file_access.h"
#include "observations/file_descriptor_posix.h"

#include <cerrno>
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

FileOutcome readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return FileOutcome::Failed;
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
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return FileOutcome::Failed;
  // File systems without the no-replace rename: a hard link also refuses an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return FileOutcome::Failed;
  ::unlink(from.c_str());
  return FileOutcome::Done;
}

}  // namespace tessary
