// Native side of the sheet store's file operations.
#include "observations/file_access.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace tessary {

bool readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  constexpr std::size_t kChunk = 1 << 20;
  bool ok = true;
  while (bytes.size() < limit) {
    const std::size_t offset = bytes.size();
    const std::size_t wanted = std::min(kChunk, limit - offset);
    bytes.resize(offset + wanted);
    const ssize_t got = ::read(fd, bytes.data() + offset, wanted);
    if (got < 0) {
      bytes.resize(offset);
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    bytes.resize(offset + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // File systems without the no-replace rename: a hard link also refuses an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace tessary
